// The test engine handlers of the window: run start, scheduler, test cycle, links.
#include "shell/Unit1.h"

void TForm1::SetupEngine() {}
void TForm1::InstantlyTaskCheck() {}
void TForm1::Timer1Timer() {}
void TForm1::ShutdownEngine() {}
void TForm1::RecoverJournals() {}

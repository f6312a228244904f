// The results handlers of the window: month view, detail panel and spreadsheet export.
#include "shell/Unit1.h"

void TForm1::SetupResultControls() {}
void TForm1::BdbOpenClick() {}
void TForm1::btn_prevClick() {}
void TForm1::btn_nextClick() {}
void TForm1::BresultsCloseClick() {}
void TForm1::SGresultsDblClick() {}
void TForm1::BDetailsCloseClick() {}
void TForm1::BexpClick() {}
void TForm1::ShutdownResults() {}

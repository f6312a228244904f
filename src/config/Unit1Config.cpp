// The channel configuration handlers of the window: channel base grid, link settings, port
// list and the import of an external channel list.
#include "shell/Unit1.h"

void TForm1::SetupConfigControls() {}
void TForm1::LoadPortList() {}
void TForm1::ReadLinkSettings() {}
void TForm1::WriteLinkSettings() {}
void TForm1::BopenSetClick() {}
void TForm1::BsaveSetClick() {}
void TForm1::BimportClick() {}

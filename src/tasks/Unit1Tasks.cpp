// The task handlers of the window: task table, selection lists and status control.
#include "shell/Unit1.h"

void TForm1::SetupTaskControls() {}
void TForm1::TaskRefresh() {}
void TForm1::SGtaskClick() {}
void TForm1::BaddTaskClick() {}
void TForm1::BtaskChangeClick() {}
void TForm1::BtaskDeleteClick() {}
void TForm1::RGTypeClick() {}
void TForm1::BnewTaskClick() {}
void TForm1::ChLBdirClickCheck() {}
void TForm1::ChLBdivClickCheck() {}
void TForm1::SelectAll1Click() {}
void TForm1::DeselctAll1Click() {}
void TForm1::SelectAll2Click() {}
void TForm1::DeselctAll2Click() {}
void TForm1::SelectAll3Click() {}
void TForm1::DeselctAll3Click() {}
void TForm1::BchStatusClick() {}
void TForm1::DisableB() {}
void TForm1::EnableB() {}

// The main window's settings menu command and its login gate.
#include "Main.h"

void TFormMain::N15Click() {}

void TFormMain::LoginGate() {}

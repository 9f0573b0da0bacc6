// quarno-server: the desktop program with its windows and tray icon.
#include "ui/qt/app.h"

int main(int argc, char** argv) { return quarno::qt::RunQuarnoServer(argc, argv); }

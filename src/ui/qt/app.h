#pragma once
// quarno-server from start to end: the single-instance guard, the hand-over
// from the boot-up service, the initialization window with its checks, then
// the main window until the tray command ends the program.
namespace quarno::qt {

// Runs the program; returns its exit code (the process normally ends inside).
int RunQuarnoServer(int argc, char** argv);

}  // namespace quarno::qt

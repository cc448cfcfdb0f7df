#pragma once
// The program's start-up and shut-down around the main window: one copy per user, the
// embedded skins, the main window with its title, size, icon and place, the message
// loop, and the clean-up at exit. UI thread.
class QApplication;

namespace bv {

// Runs the program in an application that exists already; returns the exit code.
int RunProgram(QApplication& app);

}  // namespace bv

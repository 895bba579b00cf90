#pragma once

// The window branch of the exception handling: every exception the handling
// thread shows goes to a crash-UI process (a second copy of the program), as
// a process hit by a fatal signal or frozen cannot run windows itself. When
// that process cannot start, the console branch takes over; when it dies
// while the dialog is up, the message goes to the console and the program
// goes on as the exception allows.

namespace zeb {

// Installs the presenter and the screenshot taken on the GUI thread (at
// most 1500 ms), and prepares the crash-UI process's arguments. Call once at
// start-up, after RunCrashUiIfAsked.
void InstallCrashUiPresenter();

}  // namespace zeb

#pragma once

// What the crash reporter's Qt-free services need of the windows: the
// clipboard and a wake-up of the main thread for its queued calls. Install
// both on the GUI thread once the application object exists.

namespace zeb {

// CopyToClipboard then puts its (UTF-8) text on the clipboard from the GUI
// thread, whichever thread asks.
void InstallClipboard();
// Makes the GUI thread the dispatcher's main thread and runs its queued calls
// from the event loop.
void InstallMainThreadDispatcher();

}  // namespace zeb

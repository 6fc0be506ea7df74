#pragma once
// The update check's user interface: its questions as message boxes on the user-interface thread,
// its home page in the desktop's default browser.

// Installs the prompt and the home-page opener of the update check. Call once on the
// user-interface thread after the QApplication exists and before any worker starts. A worker's
// question then shows as a message box owned by no window and not modal, so the main window stays
// usable while the worker waits for the answer; an open box does not keep the program running.
void InstallUpdateUi();

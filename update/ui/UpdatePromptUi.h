#pragma once

class QWidget;

namespace umbra {
// The update check's user interface: its questions as message boxes on the user-interface thread,
// its home page in the desktop's default browser.

// Installs the prompt and the home-page opener of the update check. Call once on the
// user-interface thread after the QApplication exists and before any worker starts. A worker's
// question then shows as a message box that is not modal, so the main window stays usable while
// the worker waits for the answer; an open box does not keep the program running.
void installUpdateUi();

// The window the questions stand over (the main window): a box belongs to it, so the window's modal
// run does not block the box and the box stays above it. Without an owner a box belongs to the
// modal window that runs when it opens, or to no window. The owner may be destroyed at any time;
// null clears it.
void setUpdatePromptOwner(QWidget* owner);

}  // namespace umbra

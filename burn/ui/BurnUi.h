#pragma once

#include <QString>

#include <functional>

class QWidget;

namespace umbra {

extern const char* const kBurnNotSupportedMessage;

// Asks for the image to burn; empty when the user cancels. The dialog starts in the folder of
// `current` (the open image) with that file selected.
QString chooseImageToBurn(QWidget* owner, const QString& current = {});

// Replaces the file dialog of chooseImageToBurn (tests); an empty function restores the dialog.
void setImageChooser(std::function<QString(QWidget*)> chooser);

// Looks for a recorder with a writable medium, with a modal note over owner while it looks; when
// none answers, says so (and why) and returns false. Nothing else is touched.
bool findRecorder(QWidget* owner);

// Burns the image with modal progress dialogs over owner, reads the disc back and compares it with
// the image (the user may cancel that check; on Windows the recording service's quick check during
// the write gives the verdict), then shows the result in one message box. True when the burn succeeded.
bool burnImage(QWidget* owner, const QString& imagePath);

// Runs on the worker between the write and the read-back of burnImage (tests damage the disc there);
// an empty function removes it.
void setBeforeReadBack(std::function<void()> hook);

}  // namespace umbra

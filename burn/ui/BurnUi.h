#pragma once

#include <QString>

#include <functional>

class QWidget;

// True when discs can be burned here.
bool IsBurnSupported();

extern const char* const kBurnNotSupportedMessage;

// Asks for the image to burn; empty when the user cancels. The dialog starts in the folder of
// `current` (the open image) with that file selected.
QString ChooseImageToBurn(QWidget* owner, const QString& current = {});

// Replaces the file dialog of ChooseImageToBurn (tests); an empty function restores the dialog.
void SetImageChooser(std::function<QString(QWidget*)> chooser);

// Burns the image with modal progress dialogs over owner, then shows the result in one message box.
// True when the burn succeeded.
bool BurnImage(QWidget* owner, const QString& imagePath);

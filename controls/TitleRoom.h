#pragma once
// Message boxes as wide as their title: a short message gives a narrow box, and the window manager
// then cuts the caption ("Umb…isc").
class QMessageBox;

namespace umbra {

// Widens the box so that its caption shows whole beside the frame's icon and buttons.
void makeRoomForTitle(QMessageBox& box);
// The width a box needs for its caption.
int titleRoomWidth(const QMessageBox& box);

}  // namespace umbra

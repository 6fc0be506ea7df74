#pragma once
// Where the main window was and how large, kept from one run of the program to the next in the
// user's settings (KorvantisSoft/Umbradisc, where the burner's drive is kept too).
class QWidget;

namespace umbra {

// Puts the window where it was last left, maximised if it was; false (and nothing changed) when
// no placement is kept. A place on a screen that has gone since is moved onto one that is there.
bool restorePlacement(QWidget& window);
void savePlacement(const QWidget& window);

}  // namespace umbra

#pragma once
// The About box: the program's icon, name and version, a notice and the web address.
#include <QDialog>

namespace umbra {

class CAboutDlg : public QDialog {
  Q_OBJECT

 public:
  static constexpr const char* kCaption = "About Umbradisc ";
  static constexpr const char* kVersionText = "Umbradisc Version 2.0";

  explicit CAboutDlg(QWidget* parent = nullptr);
};

}  // namespace umbra

#pragma once
// The instructions page shown over the main window's frame while no image is open: a child dialog
// clipped to a rectangle with rounded corners, re-clipped whenever its size changes.
#include <QDialog>

class QPushButton;

namespace umbra {

class CRoundDlg : public QDialog {
  Q_OBJECT

 public:
  static constexpr int kCornerEllipse = 25;  // width and height of the corner ellipse, in pixels
  static constexpr int kWidthUnits = 457;
  static constexpr int kHeightUnits = 233;

  explicit CRoundDlg(QWidget* parent = nullptr);

  // The clip of a page of this size: the full rectangle with rounded corners.
  static QRegion roundRegion(const QSize& size);

 protected:
  void resizeEvent(QResizeEvent* e) override;

 private:
  void buildTemplate();

  QPushButton* m_okButton = nullptr;
  QPushButton* m_cancelButton = nullptr;
};

}  // namespace umbra

#pragma once
// A flat icon push button drawn over a copy of its parent's skin: a raised one-pixel frame while the
// pointer is over it, a sunken frame with the content shifted by one pixel while it is pressed, an
// optional caption to the right of the icon, a greyed icon and faded caption while it is disabled,
// and a tool tip that wraps at 400 pixels (shown on a disabled button too, to say why). Clicks and
// keyboard focus are the push button's own; it is never a default button, so Return pressed
// elsewhere in the window does not click it, and Space with Alt held (the window menu) never does.
#include <QColor>
#include <QIcon>
#include <QPixmap>
#include <QPushButton>
#include <QRect>
#include <QString>

class QPainter;

namespace umbra {

class CSkinButton : public QPushButton {
  Q_OBJECT

 public:
  static constexpr int kIconMargin = 3;    // icon's distance from the left edge beside a caption
  static constexpr int kPressedShift = 1;  // icon and caption move right and down while pressed
  static constexpr int kFocusInset = 2;    // the focus rectangle's distance from the edges
  static constexpr int kTipMaxWidth = 400;

  explicit CSkinButton(QWidget* parent = nullptr);
  explicit CSkinButton(const QString& caption, QWidget* parent = nullptr);

  // Loads the icon at cx x cy pixels; a resource that does not load leaves the button without icon.
  void setButtonIcon(const QString& resource, int cx, int cy);
  // Sets the tool tip text and switches the tool tip on or off; a null text does nothing. The tip
  // answers within the button's rectangle as it was at the first call.
  void setTipText(const QString& text, bool on);
  // Draws the parent's pixels behind the button instead of a solid face; drops any cached copy.
  void useParentBackground(bool repaint);
  // Takes the pixels under the button from a freshly painted copy of the parent (in the parent's
  // coordinates). Does nothing unless the parent's background is in use.
  void captureBackground(const QPixmap& parentSurface);

  QString tipText() const { return m_tip; }
  bool isTipOn() const { return m_tipOn; }
  bool isHover() const { return m_hover; }
  bool hasCachedBackground() const { return !m_back.isNull(); }
  QSize drawnIconSize() const { return {m_iconWidth, m_iconHeight}; }

 protected:
  bool event(QEvent* e) override;
  void paintEvent(QPaintEvent* e) override;
  void enterEvent(QEnterEvent* e) override;
  void leaveEvent(QEvent* e) override;
  void mouseMoveEvent(QMouseEvent* e) override;
  void mouseDoubleClickEvent(QMouseEvent* e) override;
  void keyPressEvent(QKeyEvent* e) override;
  void keyReleaseEvent(QKeyEvent* e) override;
  void focusOutEvent(QFocusEvent* e) override;
  void hideEvent(QHideEvent* e) override;
  void changeEvent(QEvent* e) override;

  virtual void paintBackground(QPainter& painter, const QRect& item);
  virtual void paintFrame(QPainter& painter, const QRect& item);
  virtual void paintIcon(QPainter& painter, const QRect& item, QRect& caption);
  virtual void paintCaption(QPainter& painter, QRect caption);
  void paintFocus(QPainter& painter, const QRect& item);
  QColor disabledTextColour() const;

 private:
  void trackHover(const QPoint& pos, Qt::MouseButtons buttons);
  void endHover();
  void dropBackground();
  void reloadColours();
  const QPixmap& parentBackground();

  bool m_hover = false;
  bool m_pressed = false;
  bool m_transparent = false;
  QPixmap m_back;  // the parent's pixels under the button
  QIcon m_icon;
  int m_iconWidth = 0;
  int m_iconHeight = 0;
  QString m_tip;
  bool m_tipOn = false;
  bool m_tipAdded = false;
  QRect m_tipRect;
  QColor m_crText;
  QColor m_crFace;
};

}  // namespace umbra

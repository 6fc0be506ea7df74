#include "controls/CSkinButton.h"

#include <QApplication>
#include <QEnterEvent>
#include <QGuiApplication>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <QToolTip>

#include "controls/TipText.h"

namespace umbra {

CSkinButton::CSkinButton(QWidget* parent) : CSkinButton(QString(), parent) {}

CSkinButton::CSkinButton(const QString& caption, QWidget* parent) : QPushButton(caption, parent) {
  setMouseTracking(true);
  setFlat(true);
  setAutoDefault(false);
  reloadColours();
}

void CSkinButton::reloadColours() {
  m_crFace = palette().color(QPalette::Button);
  m_crText = palette().color(QPalette::ButtonText);
}

void CSkinButton::setButtonIcon(const QString& resource, int cx, int cy) {
  m_icon = QIcon();
  m_iconWidth = 0;
  m_iconHeight = 0;
  QIcon icon(resource);
  if (!icon.isNull() && !icon.pixmap(QSize(cx, cy)).isNull()) {
    m_icon = icon;
    m_iconWidth = cx;
    m_iconHeight = cy;
  }
  update();
}

void CSkinButton::setTipText(const QString& text, bool on) {
  if (text.isNull()) return;
  if (!m_tipAdded) {
    m_tipRect = rect();
    m_tipAdded = true;
  }
  m_tip = text;
  m_tipOn = on;
  if (!on) QToolTip::hideText();
}

void CSkinButton::useParentBackground(bool repaint) {
  m_transparent = true;
  dropBackground();
  if (repaint) update();
}

void CSkinButton::captureBackground(const QPixmap& parentSurface) {
  if (!m_transparent || parentSurface.isNull()) return;
  dropBackground();
  const qreal ratio = parentSurface.devicePixelRatio();
  const QRect source(pos() * ratio, size() * ratio);
  m_back = parentSurface.copy(source);
  m_back.setDevicePixelRatio(ratio);
}

void CSkinButton::dropBackground() { m_back = QPixmap(); }

const QPixmap& CSkinButton::parentBackground() {
  QWidget* parent = parentWidget();
  if (m_back.isNull() && parent) {
    // The parent alone, without its children: what shows under the button is the parent's skin.
    const qreal ratio = devicePixelRatioF();
    QPixmap copy(size() * ratio);
    copy.setDevicePixelRatio(ratio);
    copy.fill(Qt::transparent);
    parent->render(&copy, QPoint(), QRegion(geometry()), QWidget::DrawWindowBackground);
    m_back = copy;
  }
  return m_back;
}

bool CSkinButton::event(QEvent* e) {
  if (e->type() == QEvent::ToolTip) {
    auto* help = static_cast<QHelpEvent*>(e);
    if (m_tipOn && !m_tip.isEmpty() && m_tipRect.contains(help->pos())) {
      // The tip label pads its text on both sides; the wrapped lines leave room for that.
      const int padding = 2 * (1 + style()->pixelMetric(QStyle::PM_ToolTipLabelFrameWidth, nullptr, this));
      QToolTip::showText(help->globalPos(), wrapTipText(m_tip, QToolTip::font(), kTipMaxWidth - padding), this,
                         m_tipRect);
    } else {
      QToolTip::hideText();
      e->ignore();
    }
    return true;
  }
  return QPushButton::event(e);
}

void CSkinButton::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  m_pressed = isDown();
  const QRect item = rect();
  if (m_transparent) {
    painter.drawPixmap(0, 0, parentBackground());
  } else {
    paintBackground(painter, item);
  }
  paintFrame(painter, item);
  QRect caption = item;
  if (!m_icon.isNull()) paintIcon(painter, item, caption);
  if (!text().isEmpty()) paintCaption(painter, caption);
  // The keyboard's place, once the keyboard has moved it: a dotted rectangle in the caption's colour.
  if (hasFocus() && window()->testAttribute(Qt::WA_KeyboardFocusChange)) paintFocus(painter, item);
}

void CSkinButton::paintFocus(QPainter& painter, const QRect& item) {
  QPen pen(m_crText, 1, Qt::DotLine);
  painter.setPen(pen);
  painter.setBrush(Qt::NoBrush);
  painter.drawRect(item.adjusted(kFocusInset, kFocusInset, -kFocusInset - 1, -kFocusInset - 1));
}

void CSkinButton::paintBackground(QPainter& painter, const QRect& item) { painter.fillRect(item, m_crFace); }

void CSkinButton::paintFrame(QPainter& painter, const QRect& item) {
  if (!m_pressed && !m_hover) return;
  const QColor light = palette().color(QPalette::Light);
  const QColor dark = palette().color(QPalette::Dark);
  const QColor topLeft = m_pressed ? dark : light;
  const QColor bottomRight = m_pressed ? light : dark;
  const int x = item.x(), y = item.y(), w = item.width(), h = item.height();
  painter.fillRect(QRect(x, y, w - 1, 1), topLeft);
  painter.fillRect(QRect(x, y, 1, h - 1), topLeft);
  painter.fillRect(QRect(x + w - 1, y, 1, h), bottomRight);
  painter.fillRect(QRect(x, y + h - 1, w, 1), bottomRight);
}

void CSkinButton::paintIcon(QPainter& painter, const QRect& item, QRect& caption) {
  int left;
  if (!text().isEmpty()) {
    left = item.left() + kIconMargin;
    caption.setLeft(caption.left() + m_iconWidth + kIconMargin);
  } else {
    left = item.left() + (item.width() - m_iconWidth) / 2;
  }
  QRect image(left, item.top() + (item.height() - m_iconHeight) / 2, m_iconWidth, m_iconHeight);
  if (m_pressed) image.translate(kPressedShift, kPressedShift);
  // A button that cannot be pressed shows its icon greyed out, as the platform greys icons.
  painter.drawPixmap(image,
                     m_icon.pixmap(image.size(), devicePixelRatioF(), isEnabled() ? QIcon::Normal : QIcon::Disabled));
}

void CSkinButton::paintCaption(QPainter& painter, QRect caption) {
  if (m_pressed) caption.translate(kPressedShift, kPressedShift);
  const QRect bounds = caption;
  constexpr int kFlags = Qt::TextWordWrap | Qt::AlignHCenter | Qt::TextShowMnemonic;
  const QSize block =
      fontMetrics().boundingRect(QRect(0, 0, bounds.width(), 1 << 16), kFlags, text()).size();
  QRect placed(bounds.topLeft(), block);
  placed.translate((bounds.width() - block.width()) / 2, (bounds.height() - block.height()) / 2);
  painter.setPen(isEnabled() ? m_crText : disabledTextColour());
  painter.drawText(placed, kFlags, text());
}

QColor CSkinButton::disabledTextColour() const {
  // Half way to the face: faded whatever colours the palette gives a disabled caption.
  QColor faded = m_crText;
  faded.setAlpha(110);
  return faded;
}

void CSkinButton::trackHover(const QPoint& pos, Qt::MouseButtons buttons) {
  if (!isEnabled()) return;  // no raised frame on a button that cannot be pressed
  // The widget under the pointer, not just the rectangle: a sibling may lie over the button.
  QWidget* top = window();
  const bool over = rect().contains(pos) && top->childAt(mapTo(top, pos)) == this;
  if ((buttons & Qt::LeftButton) && !m_hover) return;  // a drag begun elsewhere raises no frame
  if (!over) {
    endHover();
    return;
  }
  if (m_hover) return;
  m_hover = true;
  update();
}

void CSkinButton::endHover() {
  if (!m_hover) return;
  m_hover = false;
  update();
}

void CSkinButton::enterEvent(QEnterEvent* e) {
  QPushButton::enterEvent(e);
  trackHover(e->position().toPoint(), QGuiApplication::mouseButtons());
}

void CSkinButton::leaveEvent(QEvent* e) {
  QPushButton::leaveEvent(e);
  endHover();
}

void CSkinButton::mouseMoveEvent(QMouseEvent* e) {
  QPushButton::mouseMoveEvent(e);
  trackHover(e->position().toPoint(), e->buttons());
}

void CSkinButton::mouseDoubleClickEvent(QMouseEvent* e) {
  // The second press of a double click is a press like the first, so it makes a second click.
  QMouseEvent press(QEvent::MouseButtonPress, e->position(), e->scenePosition(), e->globalPosition(),
                    e->button(), e->buttons(), e->modifiers(), e->pointingDevice());
  mousePressEvent(&press);
  e->setAccepted(press.isAccepted());
}

namespace {
bool altHeld(const QKeyEvent* e) {
  // Asked of the window system too: a synthetic or late key event may not carry the modifier.
  return ((e->modifiers() | QGuiApplication::queryKeyboardModifiers()) & Qt::AltModifier) != 0;
}
bool isSpace(const QKeyEvent* e) { return e->key() == Qt::Key_Space; }
bool isReturn(const QKeyEvent* e) { return e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter; }
}  // namespace

void CSkinButton::keyPressEvent(QKeyEvent* e) {
  if (isSpace(e) && altHeld(e)) {
    e->ignore();  // the window's menu key: left to the window
    return;
  }
  if (isReturn(e) && !(e->modifiers() & (Qt::AltModifier | Qt::ControlModifier | Qt::MetaModifier))) {
    // Return presses the button that has the focus, as Space does; no other button answers it.
    if (!e->isAutoRepeat()) click();
    return;
  }
  QPushButton::keyPressEvent(e);
}

void CSkinButton::keyReleaseEvent(QKeyEvent* e) {
  if (isSpace(e) && altHeld(e)) {
    // Alt came down while Space was held: the press is dropped, not completed.
    if (isDown()) setDown(false);
    e->ignore();
    return;
  }
  QPushButton::keyReleaseEvent(e);
}

void CSkinButton::focusOutEvent(QFocusEvent* e) {
  QPushButton::focusOutEvent(e);
  endHover();
}

void CSkinButton::hideEvent(QHideEvent* e) {
  QPushButton::hideEvent(e);
  endHover();
}

void CSkinButton::changeEvent(QEvent* e) {
  QPushButton::changeEvent(e);
  if (e->type() == QEvent::EnabledChange) {
    endHover();
    update();
  }
  if (e->type() == QEvent::PaletteChange || e->type() == QEvent::StyleChange) {
    dropBackground();
    reloadColours();
    update();
  }
}

}  // namespace umbra

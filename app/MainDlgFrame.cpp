// The main window's frame: where it first shows, its skin painted behind the controls, and moving
// it by the skin.
#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QWindow>

#include "app/CMainDlg.h"
#include "controls/CSkinButton.h"

namespace umbra {

namespace {
// Skin geometry in pixels.
constexpr int kBannerWidth = 760;
constexpr int kFramePenWidth = 3;
constexpr qreal kFrameCornerRadius = 25 / 2.0;  // a 25 x 25 corner ellipse
const QColor kFrameColour(204, 204, 255);
}  // namespace

void CMainDlg::setVisible(bool visible) {
  // The first display centres the window itself: the dialog's own placement allows for a title
  // bar and frame that this window does not have.
  if (visible && !isVisible() && !testAttribute(Qt::WA_Moved)) centreOnScreen();
  QDialog::setVisible(visible);
}

void CMainDlg::centreOnScreen() {
  QScreen* target = screen() != nullptr ? screen() : QGuiApplication::primaryScreen();
  if (target == nullptr) return;
  const QRect area = target->availableGeometry();
  move(area.x() + (area.width() - width()) / 2, area.y() + (area.height() - height()) / 2);
}

void CMainDlg::refreshButtonBackgrounds(const QPixmap& surface) {
  m_btnMinimize->captureBackground(surface);
  m_btnClose->captureBackground(surface);
  m_btnUpdate->captureBackground(surface);
}

void CMainDlg::composeSkin() {
  const qreal ratio = devicePixelRatioF();
  m_skin = QPixmap(size() * ratio);
  m_skin.setDevicePixelRatio(ratio);
  m_skin.fill(palette().color(QPalette::Window));
  {
    QPainter painter(&m_skin);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    if (!m_body.isNull()) painter.drawImage(rect(), m_body);
    // The banner keeps its own size: a narrower window cuts it at the right.
    if (!m_banner.isNull()) painter.drawImage(QRect(0, 0, kBannerWidth, m_banner.height()), m_banner);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(kFrameColour, kFramePenWidth));
    painter.setBrush(Qt::white);
    painter.drawRoundedRect(QRectF(m_frame.x(), m_frame.y(), m_frame.width(), m_frame.height()), kFrameCornerRadius,
                            kFrameCornerRadius);
  }
  m_skinDirty = false;
  refreshButtonBackgrounds(m_skin);
}

void CMainDlg::paintEvent(QPaintEvent*) {
  if (m_skinDirty || m_skin.deviceIndependentSize().toSize() != size()) composeSkin();
  QPainter painter(this);
  painter.drawPixmap(0, 0, m_skin);
}

void CMainDlg::resizeEvent(QResizeEvent* e) {
  m_skinDirty = true;
  QDialog::resizeEvent(e);
}

void CMainDlg::changeEvent(QEvent* e) {
  if (e->type() == QEvent::PaletteChange) {
    m_skinDirty = true;
    update();
  }
  QDialog::changeEvent(e);
}

void CMainDlg::mousePressEvent(QMouseEvent* e) {
  // Only the skin moves the window; the controls and the page keep their own clicks.
  if (e->button() != Qt::LeftButton || childAt(e->position().toPoint()) != nullptr) {
    QDialog::mousePressEvent(e);
    return;
  }
  // The press tells where the window really is. After the first display a window manager may not
  // have told the toolkit yet, and its move loop would start from the wrong place.
  const QPoint origin = (e->globalPosition() - e->position()).toPoint();
  QWindow* window = windowHandle();
  if (window != nullptr) {
    if (window->position() != origin) window->setPosition(origin);
    if (window->startSystemMove()) return;
  }
  // Without the window system's move loop, follow the pointer ourselves.
  m_dragging = true;
  m_dragOffset = e->globalPosition().toPoint() - origin;
}

void CMainDlg::mouseMoveEvent(QMouseEvent* e) {
  if (m_dragging && (e->buttons() & Qt::LeftButton)) move(e->globalPosition().toPoint() - m_dragOffset);
  QDialog::mouseMoveEvent(e);
}

void CMainDlg::mouseReleaseEvent(QMouseEvent* e) {
  if (e->button() == Qt::LeftButton) m_dragging = false;
  QDialog::mouseReleaseEvent(e);
}

}  // namespace umbra

// The main window's frame: where it first shows, how its controls share a window of any size, its
// skin painted behind them, and moving and resizing it by the skin.
#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QSizeGrip>
#include <QTreeWidget>
#include <QWindow>
#include <cmath>

#include "app/CMainDlg.h"
#include "app/FileListView.h"
#include "app/Resources.h"
#include "controls/CRoundDlg.h"
#include "controls/CSkinButton.h"
#include "controls/DialogUnits.h"
#include "controls/SkinPainting.h"

namespace umbra {

namespace {
// Skin geometry in pixels.
constexpr QSize kBannerSize(760, 92);
// The banner's name on the left and its wave's end on the right keep their size; the band between
// them is stretched across a wider window.
constexpr QMargins kBannerKept(260, 0, 40, 0);
constexpr QSize kBodySize(224, 114);
// The body is rendered for sizes in steps of this many pixels, so a window being resized renders
// it seldom; each step is scaled down a little to the size shown.
constexpr int kBodyStep = 112;
constexpr int kFramePenWidth = 3;
constexpr qreal kFrameCornerRadius = 25 / 2.0;  // a 25 x 25 corner ellipse
const QColor kFrameColour(204, 204, 255);

// How far from the window's edge a press on the skin resizes instead of moving the window.
constexpr int kResizeBorder = 6;
// Of the width the window gains over its first size, the tree takes this share, the list the rest.
constexpr qreal kTreeShare = 1.0 / 3;

Qt::CursorShape cursorFor(Qt::Edges edges) {
  const bool horizontal = edges & (Qt::LeftEdge | Qt::RightEdge);
  const bool vertical = edges & (Qt::TopEdge | Qt::BottomEdge);
  if (horizontal && vertical)
    return (edges == (Qt::TopEdge | Qt::LeftEdge) || edges == (Qt::BottomEdge | Qt::RightEdge)) ? Qt::SizeFDiagCursor
                                                                                                : Qt::SizeBDiagCursor;
  return horizontal ? Qt::SizeHorCursor : Qt::SizeVerCursor;
}
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

void CMainDlg::placeAt(QWidget* widget, const QRect& rect) {
  widget->setGeometry(rect);
  m_places.push_back({widget, rect});
}

void CMainDlg::layOut() {
  // Every control keeps its place at the first size; what the window gains goes to the frame,
  // the tree and the list, and the buttons keep their distance from the right and the bottom.
  const DialogUnits du(font());
  const QSize first = du.size(kWidthUnits, kHeightUnits);
  const int dx = qMax(0, width() - first.width()), dy = qMax(0, height() - first.height());
  const int treeDx = static_cast<int>(std::lround(dx * kTreeShare));
  for (const Place& place : m_places) {
    QRect rect = place.first;
    QWidget* widget = place.widget;
    if (widget == m_tree) {
      rect.adjust(0, 0, treeDx, dy);
    } else if (widget == m_list) {
      rect.adjust(treeDx, 0, dx, dy);
    } else if (widget == m_stcFrame || widget == m_howToPage) {
      rect.adjust(0, 0, dx, dy);
    } else if (widget == m_updateButton || widget == m_helpButton) {
      rect.translate(dx, dy);
    } else {
      rect.translate(dx, 0);  // the command row and the small buttons at the top right
    }
    widget->setGeometry(rect);
  }
  m_frame = m_stcFrame->geometry();
  if (m_sizeGrip != nullptr) {
    const QSize grip = m_sizeGrip->sizeHint();
    m_sizeGrip->setGeometry(QRect(QPoint(width() - grip.width(), height() - grip.height()), grip));
  }
  m_skinDirty = true;
}

void CMainDlg::refreshButtonBackgrounds(const QPixmap& surface) {
  m_minimizeButton->captureBackground(surface);
  m_closeButton->captureBackground(surface);
  m_updateButton->captureBackground(surface);
}

void CMainDlg::composeSkin() {
  const qreal ratio = devicePixelRatioF();
  m_skin = QPixmap(size() * ratio);
  m_skin.setDevicePixelRatio(ratio);
  m_skin.fill(palette().color(QPalette::Window));
  // The drawings are rendered for this screen's scale, the body for the step of sizes this one is in.
  QSize body = kBodySize.scaled(size(), Qt::KeepAspectRatioByExpanding);
  body.setWidth((body.width() + kBodyStep - 1) / kBodyStep * kBodyStep);
  body = kBodySize.scaled(body.width(), body.width(), Qt::KeepAspectRatio);
  if (m_bodyPicture.isNull() || m_bodyPicture.devicePixelRatio() != ratio || m_bodyRenderedFor != body) {
    m_bodyPicture = skinPicture(QString::fromLatin1(res::kSkinBody), body, ratio);
    m_bodyRenderedFor = body;
  }
  if (m_bannerPicture.isNull() || m_bannerPicture.devicePixelRatio() != ratio)
    m_bannerPicture = skinPicture(QString::fromLatin1(res::kSkinBanner), kBannerSize, ratio);
  {
    QPainter painter(&m_skin);
    drawCovering(painter, rect(), m_bodyPicture);
    // The banner keeps its name and its ends: a narrower window cuts it at the right, a wider one
    // stretches the band between them.
    drawKeepingEdges(painter, QRect(QPoint(0, 0), QSize(width(), kBannerSize.height())), m_bannerPicture, kBannerKept);
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
  layOut();
  QDialog::resizeEvent(e);
}

void CMainDlg::changeEvent(QEvent* e) {
  if (e->type() == QEvent::PaletteChange) {
    m_skinDirty = true;
    update();
  }
  QDialog::changeEvent(e);
}

Qt::Edges CMainDlg::edgesAt(const QPoint& pos) const {
  if (isMaximized() || isMinimized() || childAt(pos) != nullptr) return {};
  Qt::Edges edges;
  if (pos.x() < kResizeBorder) edges |= Qt::LeftEdge;
  if (pos.x() >= width() - kResizeBorder) edges |= Qt::RightEdge;
  if (pos.y() < kResizeBorder) edges |= Qt::TopEdge;
  if (pos.y() >= height() - kResizeBorder) edges |= Qt::BottomEdge;
  return edges;
}

void CMainDlg::mousePressEvent(QMouseEvent* e) {
  // Only the skin moves and resizes the window; the controls and the page keep their own clicks.
  const QPoint pos = e->position().toPoint();
  if (e->button() != Qt::LeftButton || childAt(pos) != nullptr) {
    QDialog::mousePressEvent(e);
    return;
  }
  // The press tells where the window really is. After the first display a window manager may not
  // have told the toolkit yet, and its move loop would start from the wrong place.
  const QPoint origin = (e->globalPosition() - e->position()).toPoint();
  QWindow* window = windowHandle();
  if (window != nullptr && window->position() != origin) window->setPosition(origin);
  m_pressPoint = e->globalPosition().toPoint();
  if (const Qt::Edges edges = edgesAt(pos)) {
    if (window != nullptr && window->startSystemResize(edges)) return;
    // Without the window system's resize loop, follow the pointer ourselves.
    m_resizing = edges;
    m_pressGeometry = geometry();
    return;
  }
  if (isMaximized()) return;  // a maximised window stays where it is
  if (window != nullptr && window->startSystemMove()) return;
  // Without the window system's move loop, follow the pointer ourselves.
  m_dragging = true;
  m_dragOffset = m_pressPoint - origin;
}

void CMainDlg::mouseMoveEvent(QMouseEvent* e) {
  const QPoint global = e->globalPosition().toPoint();
  if (m_resizing && (e->buttons() & Qt::LeftButton)) {
    const QPoint by = global - m_pressPoint;
    QRect rect = m_pressGeometry;
    const QSize least = minimumSize();
    if (m_resizing & Qt::LeftEdge) rect.setLeft(qMin(rect.left() + by.x(), rect.right() + 1 - least.width()));
    if (m_resizing & Qt::RightEdge) rect.setRight(qMax(rect.right() + by.x(), rect.left() + least.width() - 1));
    if (m_resizing & Qt::TopEdge) rect.setTop(qMin(rect.top() + by.y(), rect.bottom() + 1 - least.height()));
    if (m_resizing & Qt::BottomEdge) rect.setBottom(qMax(rect.bottom() + by.y(), rect.top() + least.height() - 1));
    setGeometry(rect);
  } else if (m_dragging && (e->buttons() & Qt::LeftButton)) {
    move(global - m_dragOffset);
  } else if (e->buttons() == Qt::NoButton) {
    // The edges of the skin offer resizing, as a window frame does.
    const Qt::Edges edges = edgesAt(e->position().toPoint());
    if (edges)
      setCursor(cursorFor(edges));
    else
      unsetCursor();
  }
  QDialog::mouseMoveEvent(e);
}

void CMainDlg::mouseReleaseEvent(QMouseEvent* e) {
  if (e->button() == Qt::LeftButton) {
    m_dragging = false;
    m_resizing = {};
  }
  QDialog::mouseReleaseEvent(e);
}

void CMainDlg::leaveEvent(QEvent* e) {
  if (!m_resizing) unsetCursor();
  QDialog::leaveEvent(e);
}

}  // namespace umbra

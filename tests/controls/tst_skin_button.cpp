// The skinned button drawn, hovered, pressed, double-clicked and tipped, on a parent of a known colour.
#include <QDialog>
#include <QHelpEvent>
#include <QLineEdit>
#include <QPainter>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QToolTip>
#include <QtTest>

#include "controls/CSkinButton.h"

using umbra::CSkinButton;

namespace {

const QColor kIconColour(255, 0, 0);
const QColor kParentColour(0, 160, 0);

// A parent that paints itself in one colour, so the button's copy of it can be told apart.
class SolidParent : public QWidget {
 public:
  QColor colour = kParentColour;

 protected:
  void paintEvent(QPaintEvent*) override { QPainter(this).fillRect(rect(), colour); }
};

// The bounding box of the pixels of one colour.
QRect boxOf(const QImage& image, const QColor& colour) {
  QRect box;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x)
      if (image.pixelColor(x, y) == colour) box |= QRect(x, y, 1, 1);
  return box;
}

QImage shot(QWidget* widget) { return widget->grab().toImage().convertToFormat(QImage::Format_RGB32); }

}  // namespace

class TestSkinButton : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir m_dir;
  QString m_iconPath;
  SolidParent* m_parent = nullptr;

  CSkinButton* makeButton(const QString& caption, QSize size, int iconSide = 16) {
    auto* button = new CSkinButton(caption, m_parent);
    button->setGeometry(QRect(QPoint(20, 20), size));
    button->setButtonIcon(m_iconPath, iconSide, iconSide);
    button->useParentBackground(false);
    button->show();
    return button;
  }

 private slots:
  void initTestCase() {
    QImage icon(16, 16, QImage::Format_RGB32);
    icon.fill(kIconColour);
    m_iconPath = m_dir.filePath(QStringLiteral("red.png"));
    QVERIFY(icon.save(m_iconPath));
  }

  void init() {
    m_parent = new SolidParent;
    m_parent->resize(300, 200);
    m_parent->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_parent));
  }

  void cleanup() { delete m_parent; }

  void iconPlacement_data() {
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<QPoint>("iconAt");
    QTest::newRow("centred without caption") << QString() << QSize(60, 40) << QPoint(22, 12);
    QTest::newRow("odd excess truncates") << QString() << QSize(61, 41) << QPoint(22, 12);
    QTest::newRow("beside a caption") << QStringLiteral("Open Image") << QSize(90, 44) << QPoint(3, 14);
  }

  void iconPlacement() {
    QFETCH(QString, caption);
    QFETCH(QSize, size);
    QFETCH(QPoint, iconAt);
    CSkinButton* button = makeButton(caption, size);
    QImage normal = shot(button);
    QCOMPARE(boxOf(normal, kIconColour), QRect(iconAt, QSize(16, 16)));
    QCOMPARE(normal.pixelColor(1, 1).rgb(), (kParentColour).rgb());  // the parent's skin, no frame at rest

    button->setDown(true);
    QImage pressed = shot(button);
    QCOMPARE(boxOf(pressed, kIconColour), QRect(iconAt + QPoint(1, 1), QSize(16, 16)));
    const QPalette palette = button->palette();
    QCOMPARE(pressed.pixelColor(0, 0).rgb(), (palette.color(QPalette::Dark)).rgb());
    QCOMPARE(pressed.pixelColor(0, size.height() - 2).rgb(), (palette.color(QPalette::Dark)).rgb());
    QCOMPARE(pressed.pixelColor(size.width() - 1, 0).rgb(), (palette.color(QPalette::Light)).rgb());
    QCOMPARE(pressed.pixelColor(size.width() - 1, size.height() - 1).rgb(), (palette.color(QPalette::Light)).rgb());
  }

  void captionRightOfIconAndCentred() {
    CSkinButton* button = makeButton(QStringLiteral("Make Image"), QSize(90, 44));
    button->setPalette([&] {
      QPalette p = button->palette();
      p.setColor(QPalette::ButtonText, QColor(0, 0, 255));
      return p;
    }());
    QFont font = button->font();
    font.setStyleStrategy(QFont::NoAntialias);  // every caption pixel in the one text colour
    button->setFont(font);
    const QRect text = boxOf(shot(button), QColor(0, 0, 255));
    QVERIFY(!text.isEmpty());
    QVERIFY2(text.left() >= 3 + 16 + 3, "the caption starts right of the icon");
    // Centred in the area right of the icon (22 .. 89), within a pixel or two of rounding.
    const int areaCentre = (22 + 90) / 2;
    QVERIFY2(qAbs(text.center().x() - areaCentre) <= 3, qPrintable(QStringLiteral("%1 %2 %3 %4").arg(text.x()).arg(text.y()).arg(text.width()).arg(text.height())));
    QVERIFY(qAbs(text.center().y() - 22) <= 3);
  }

  void hoverFrameAndLeftButtonHeldElsewhere() {
    CSkinButton* button = makeButton(QString(), QSize(60, 40));
    QMouseEvent dragMove(QEvent::MouseMove, QPointF(30, 20), button->mapToGlobal(QPointF(30, 20)),
                         Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(button, &dragMove);
    QVERIFY2(!button->isHover(), "a drag begun elsewhere raises no frame");

    QMouseEvent move(QEvent::MouseMove, QPointF(30, 20), button->mapToGlobal(QPointF(30, 20)), Qt::NoButton,
                     Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(button, &move);
    QVERIFY(button->isHover());
    const QImage hover = shot(button);
    QCOMPARE(hover.pixelColor(0, 0).rgb(), (button->palette().color(QPalette::Light)).rgb());
    QCOMPARE(hover.pixelColor(59, 39).rgb(), (button->palette().color(QPalette::Dark)).rgb());

    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(button, &leave);
    QVERIFY(!button->isHover());
    QCOMPARE(shot(button).pixelColor(0, 0).rgb(), (kParentColour).rgb());
  }

  void doubleClickGivesTwoClicks() {
    CSkinButton* button = makeButton(QString(), QSize(60, 40));
    QSignalSpy clicked(button, &QPushButton::clicked);
    const QPointF at(30, 20);
    const QPointF global = button->mapToGlobal(at);
    for (QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease, QEvent::MouseButtonDblClick,
                              QEvent::MouseButtonRelease}) {
      const Qt::MouseButtons held = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton;
      QMouseEvent event(type, at, global, Qt::LeftButton, held, Qt::NoModifier);
      QApplication::sendEvent(button, &event);
    }
    QCOMPARE(clicked.count(), 2);
  }

  void toolTipWrapsAt400AndSwitchesOff() {
    CSkinButton* button = makeButton(QString(), QSize(60, 40));
    const QString longText = QStringLiteral(
        "Check New version in server. This text is long enough to need more than one line in a tool tip "
        "that may be at most four hundred pixels wide, so it has to wrap at word boundaries.");
    button->setTipText(longText, true);
    QHelpEvent help(QEvent::ToolTip, QPoint(30, 20), button->mapToGlobal(QPoint(30, 20)));
    QApplication::sendEvent(button, &help);
    QTRY_VERIFY(QToolTip::isVisible());
    const QStringList lines = QToolTip::text().split(QLatin1Char('\n'));
    QVERIFY(lines.size() > 1);
    const QFontMetrics metrics(QToolTip::font());
    for (const QString& line : lines) QVERIFY2(metrics.horizontalAdvance(line) <= 400, qPrintable(line));
    QCOMPARE(lines.join(QLatin1Char(' ')).simplified(), longText.simplified());

    button->setTipText(QString(), false);  // a null text changes nothing
    QVERIFY(button->isTipOn());
    button->setTipText(QStringLiteral("Short."), false);
    QToolTip::hideText();
    QTRY_VERIFY(!QToolTip::isVisible());
    QApplication::sendEvent(button, &help);
    QVERIFY(!QToolTip::isVisible());
  }

  void cachedBackgroundRenewedOnColourChangeAndCapture() {
    CSkinButton* button = makeButton(QString(), QSize(60, 40));
    QCOMPARE(shot(button).pixelColor(2, 2).rgb(), (kParentColour).rgb());

    // The parent repaints in another colour: the button keeps its copy until told.
    m_parent->colour = QColor(200, 200, 0);
    m_parent->update();
    QCOMPARE(shot(button).pixelColor(2, 2).rgb(), (kParentColour).rgb());

    m_parent->setPalette(QPalette(QColor(10, 20, 30)));  // a colour change reaches the children
    QCOMPARE(shot(button).pixelColor(2, 2).rgb(), (QColor(200, 200, 0)).rgb());

    QPixmap surface(m_parent->size());
    surface.fill(QColor(0, 0, 200));
    button->captureBackground(surface);
    QCOMPARE(shot(button).pixelColor(2, 2).rgb(), (QColor(0, 0, 200)).rgb());
  }

  void captureIgnoredWithoutParentBackground() {
    auto* button = new CSkinButton(QString(), m_parent);
    button->setGeometry(20, 20, 60, 40);
    button->show();
    QPixmap surface(m_parent->size());
    surface.fill(QColor(0, 0, 200));
    button->captureBackground(surface);
    QVERIFY(!button->hasCachedBackground());
    QCOMPARE(shot(button).pixelColor(2, 2).rgb(), (button->palette().color(QPalette::Button)).rgb());
  }

  void enterClicksTheDefaultButton() {
    QDialog dialog;
    auto* edit = new QLineEdit(&dialog);
    auto* button = new CSkinButton(QStringLiteral("OK"), &dialog);
    button->move(0, 40);
    button->setDefault(true);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    edit->setFocus();
    QSignalSpy clicked(button, &QPushButton::clicked);
    QTest::keyClick(edit, Qt::Key_Return);
    QCOMPARE(clicked.count(), 1);
  }
};

QTEST_MAIN(TestSkinButton)
#include "tst_skin_button.moc"

// The window's work on a real image made by xorriso: open through the dialog, browse the tree, list
// folders, hide and show folders, refuse files, save, and the messages of images that cannot be
// opened. The image's bytes are checked with a small reader of this test's own.
#include <fcntl.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QHeaderView>
#include <QHelpEvent>
#include <QMessageBox>
#include <QProcess>
#include <QProgressDialog>
#include <QPushButton>
#include <QScopeGuard>
#include <QScrollBar>
#include <QTableView>
#include <QTemporaryDir>
#include <QToolTip>
#include <QTreeWidget>
#include <QtTest>
#include <cstring>

#include "TestImages.h"
#include "base/ByteOrder.h"
#include "app/CMainDlg.h"
#include "app/CUmbradiscApp.h"
#include "app/FileListModel.h"
#include "controls/CRoundDlg.h"
#include "controls/CSkinButton.h"

using umbra::CMainDlg;

namespace {

constexpr qint64 kSector = 2048;
constexpr int kFlagsOffset = 25;

// The primary descriptor's preparer and application fields, which the first write stamps.
constexpr qint64 kStampFirst = 16 * kSector + 446, kStampEnd = kStampFirst + 256;

// Bytes that differ outside the stamp; stamped: whether the application field holds the stamp.
int changedBesidesStamp(const QByteArray& before, const QByteArray& after, bool& stamped) {
  int changed = 0;
  for (qint64 i = 0; i < before.size(); ++i) changed += (i < kStampFirst || i >= kStampEnd) && before[i] != after[i];
  stamped = after.mid(kStampFirst + 128, 9) == "Umbradisc";
  return changed;
}

quint32 le32(const QByteArray& bytes, qint64 at) {
  return umbra::readLe32(reinterpret_cast<const uint8_t*>(bytes.constData() + at));
}

// Directory records of one directory, read straight from the image bytes.
struct Record {
  qint64 offset;
  QByteArray name;
  quint32 size;
  quint8 flags;
  QByteArray date;
};

QList<Record> readDirectory(const QByteArray& image, quint32 extent) {
  QList<Record> records;
  const qint64 start = extent * kSector;
  const qint64 length = le32(image, start + 10);  // from the directory's own "." record
  for (qint64 pos = start; pos < start + length;) {
    const quint8 size = static_cast<quint8>(image[pos]);
    if (size == 0) {
      pos = (pos / kSector + 1) * kSector;
      continue;
    }
    const quint8 nameLength = static_cast<quint8>(image[pos + 32]);
    records.append({pos, image.mid(pos + 33, nameLength), le32(image, pos + 10), static_cast<quint8>(image[pos + 25]),
                    image.mid(pos + 18, 7)});
    pos += size;
  }
  return records.mid(2);  // without "." and ".."
}

// Root directory extent of the primary tree, or of the Joliet tree.
quint32 rootExtent(const QByteArray& image, bool joliet) {
  for (qint64 sector = 16; sector < 32; ++sector) {
    const qint64 at = sector * kSector;
    const quint8 type = static_cast<quint8>(image[at]);
    if (type == 255) break;
    const bool isJoliet = type == 2 && image.mid(at + 88, 2) == "%/";
    if ((type == 1 && !joliet) || (isJoliet && joliet)) return le32(image, at + 156 + 2);
  }
  return 0;
}

QByteArray jolietName(const QString& name) {
  QByteArray out;
  for (QChar c : name) out.append(static_cast<char>(c.unicode() >> 8)).append(static_cast<char>(c.unicode() & 0xFF));
  return out;
}

QByteArray readFile(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

struct Box {
  QString title;
  QString text;
  QMessageBox::Icon icon;
};

// Holds a write lock on a file until its standard input closes (run as a separate process).
int holdLock(const char* path) {
  const int fd = ::open(path, O_RDWR);
  if (fd < 0) return 1;
  struct flock lock {};
  lock.l_type = F_WRLCK;
  lock.l_whence = SEEK_SET;
  if (fcntl(fd, F_SETLKW, &lock) != 0) return 1;
  std::fputs("locked\n", stdout);
  std::fflush(stdout);
  char buffer[16];
  while (::read(STDIN_FILENO, buffer, sizeof buffer) > 0) {
  }
  return 0;
}

}  // namespace

class TestWorkspaceView : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir m_dir;
  QString m_pristine;
  QString m_image;
  QList<Box> m_boxes;
  QMessageBox::StandardButton m_answer = QMessageBox::Ok;  // what the watcher answers a question
  QTimer m_boxWatcher;
  std::unique_ptr<CMainDlg> m_dlg;

  QTreeWidget* tree() { return m_dlg->tree(); }
  umbra::CSkinButton* hideButton() { return m_dlg->findChild<umbra::CSkinButton*>(QStringLiteral("hide")); }
  QTableView* list() { return m_dlg->list(); }
  void click(const char* buttonName) {
    QTest::mouseClick(m_dlg->findChild<umbra::CSkinButton*>(QString::fromLatin1(buttonName)), Qt::LeftButton);
  }
  void clickItem(QTreeWidgetItem* item) {
    QTest::mouseClick(tree()->viewport(), Qt::LeftButton, {}, tree()->visualItemRect(item).center());
  }
  void clickRow(int row, Qt::KeyboardModifiers modifiers = {}) {
    QTest::mouseClick(list()->viewport(), Qt::LeftButton, modifiers,
                      list()->visualRect(list()->model()->index(row, 1)).center());
  }
  QString cell(int row, int column) { return list()->model()->index(row, column).data().toString(); }
  int rowNamed(const QString& name) {
    for (int row = 0; row < list()->model()->rowCount(); ++row)
      if (cell(row, 0) == name) return row;
    return -1;
  }
  // The row whose tool tip has this line ("ISO 9660: README.;1").
  int rowWithTip(const QString& line) {
    for (int row = 0; row < list()->model()->rowCount(); ++row)
      if (list()->model()->index(row, 0).data(Qt::ToolTipRole).toString().split(QLatin1Char('\n')).contains(line))
        return row;
    return -1;
  }
  QStringList column(int which) {
    QStringList cells;
    for (int row = 0; row < list()->model()->rowCount(); ++row) cells << cell(row, which);
    return cells;
  }
  void openThroughDialog(const QString& path) {
    m_dlg->setFileChooser([path](QWidget*) { return path; });
    click("openImage");
  }
  // The primary and Joliet records of a root folder, found in the file by this test.
  QPair<qint64, qint64> rootFolderRecords(const QByteArray& image, const QByteArray& primary, const QString& joliet) {
    qint64 p = -1, j = -1;
    for (const Record& r : readDirectory(image, rootExtent(image, false)))
      if (r.name == primary) p = r.offset;
    for (const Record& r : readDirectory(image, rootExtent(image, true)))
      if (r.name == jolietName(joliet)) j = r.offset;
    return {p, j};
  }

 private slots:
  void initTestCase() {
    umbra::CUmbradiscApp::setDialogColours(*qApp);
    const QString source = m_dir.filePath(QStringLiteral("source"));
    QDir(source).mkpath(QStringLiteral("Alpha"));
    QDir(source).mkpath(QStringLiteral("beta"));
    QDir(source).mkpath(QStringLiteral("gamma.dir"));
    QDir(source).mkpath(QStringLiteral(".secret"));
    for (const char* file : {"Alpha/Inner.Txt", "gamma.dir/Notes.md", "MixedCase.Txt", "README", ".secret/key.dat"}) {
      QFile f(source + QLatin1Char('/') + QLatin1String(file));
      QVERIFY(f.open(QIODevice::WriteOnly));
      f.write(QByteArray(file) + "\n");
    }
    m_pristine = m_dir.filePath(QStringLiteral("pristine.iso"));
    QProcess xorriso;
    xorriso.start(qEnvironmentVariable("UMBRA_XORRISO", QStringLiteral("xorriso")),
                  {QStringLiteral("-as"), QStringLiteral("mkisofs"), QStringLiteral("-quiet"), QStringLiteral("-J"),
                   QStringLiteral("-V"), QStringLiteral("UMBRA TEST"), QStringLiteral("-o"), m_pristine, source});
    QVERIFY(xorriso.waitForFinished(60000));
    QCOMPARE(xorriso.exitCode(), 0);

    connect(&m_boxWatcher, &QTimer::timeout, this, [this] {
      if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
        m_boxes.append({box->windowTitle(), box->text(), box->icon()});
        if (QAbstractButton* answer = box->button(m_answer))
          QTest::mouseClick(answer, Qt::LeftButton);  // a question's answer comes from its clicked button
        else
          box->done(QMessageBox::Ok);
      }
    });
    m_boxWatcher.start(10);
  }

  void init() {
    m_image = m_dir.filePath(QStringLiteral("work.iso"));
    QFile::remove(m_image);
    QVERIFY(QFile::copy(m_pristine, m_image));
    QFile::setPermissions(m_image, QFile::ReadOwner | QFile::WriteOwner);
    m_boxes.clear();
    m_answer = QMessageBox::Ok;
    m_dlg = std::make_unique<CMainDlg>();
    m_dlg->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_dlg.get()));
  }

  void cleanup() { m_dlg.reset(); }

  void openShowsFoldersByTheirNamesInFileManagerOrder() {
    openThroughDialog(m_image);
    QVERIFY(m_boxes.isEmpty());
    QVERIFY(!m_dlg->howToPage()->isVisible());
    QVERIFY(tree()->isVisible() && list()->isVisible());
    const QByteArray image = readFile(m_image);
    QCOMPARE(tree()->topLevelItemCount(), 1);
    QTreeWidgetItem* volume = tree()->topLevelItem(0);
    QCOMPARE(volume->text(0), QString::fromLatin1(image.mid(0x8000 + 40, 32)));  // padding included
    QCOMPARE(volume->icon(0).pixmap(16).toImage(), QIcon(QStringLiteral(":/res/icons/disc.svg")).pixmap(16).toImage());

    QStringList expected;
    for (const Record& r : readDirectory(image, rootExtent(image, false)))
      if (r.flags & 2) expected << QString::fromLatin1(r.name);
    QCOMPARE(expected, QStringList({"ALPHA", "BETA", "GAMMA.DIR", "_SECRET"}));  // the fixture as made
    // The Joliet names, as a file manager shows and sorts them (letter case aside).
    expected = QStringList({".secret", "Alpha", "beta", "gamma.dir"});
    QStringList children;
    for (int i = 0; i < volume->childCount(); ++i) {
      children << volume->child(i)->text(0);
      QCOMPARE(volume->child(i)->icon(0).pixmap(16).toImage(),
               QIcon(QStringLiteral(":/res/icons/folder.svg")).pixmap(16).toImage());
      QCOMPARE(volume->child(i)->childCount(), 0);
    }
    QCOMPARE(children, expected);
    QVERIFY(tree()->selectedItems().isEmpty());
    QVERIFY(!volume->isExpanded());
    QCOMPARE(list()->model()->rowCount(), 0);
  }

  void listingMatchesTheDirectory() {
    openThroughDialog(m_image);
    const QByteArray image = readFile(m_image);
    QTreeWidgetItem* volume = tree()->topLevelItem(0);
    clickItem(volume);
    const QList<Record> records = readDirectory(image, rootExtent(image, false));
    QCOMPARE(list()->model()->rowCount(), records.size());
    // Folders first, then files, each by name; the record's place stays in the tool tip.
    QCOMPARE(column(0), QStringList({".secret", "Alpha", "beta", "gamma.dir", "MixedCase.Txt", "README"}));
    for (int i = 0; i < records.size(); ++i) {
      const Record& r = records[i];
      const int row = rowWithTip(QStringLiteral("ISO 9660: ") + QString::fromLatin1(r.name));
      QVERIFY2(row >= 0, r.name.constData());
      const QStringList tip = list()->model()->index(row, 0).data(Qt::ToolTipRole).toString().split(QLatin1Char('\n'));
      QVERIFY(tip.contains(QStringLiteral("Record %1 of the folder").arg(i + 1)));
      QCOMPARE(cell(row, 1), QStringLiteral("Normal"));
      const bool folder = r.flags & 2;
      // Sizes as Explorer writes them: whole KB rounded up, folders blank; the bytes in the tool tip.
      QCOMPARE(cell(row, 2), folder ? QString() : QStringLiteral("%1 KB").arg((r.size + 1023) / 1024));
      QCOMPARE(tip.contains(QStringLiteral("Size: %1 bytes").arg(r.size)), !folder);
      QCOMPARE(cell(row, 3) == QStringLiteral("Folder"), folder);
      QVERIFY(!cell(row, 3).isEmpty());
      const auto b = [&](int at) { return static_cast<quint8>(r.date[at]); };
      QCOMPARE(cell(row, 4), QStringLiteral("%1-%2-%3 %4:%5").arg(1900 + b(0)).arg(b(1)).arg(b(2)).arg(b(3)).arg(b(4)));
    }
    QCOMPARE(cell(rowNamed(QStringLiteral("gamma.dir")), 3), QStringLiteral("Folder"));  // a dot, yet a folder
    // Names start at the left of their column; the sizes line up at the right.
    const auto alignment = [&](int col) { return list()->model()->index(0, col).data(Qt::TextAlignmentRole).toInt(); };
    QCOMPARE(alignment(0) & Qt::AlignHorizontal_Mask, int(Qt::AlignLeft));
    QCOMPARE(alignment(2) & Qt::AlignHorizontal_Mask, int(Qt::AlignRight));
    // Every column is at least as wide as what it shows.
    for (int col = 1; col < list()->model()->columnCount(); ++col)
      for (int row = 0; row < list()->model()->rowCount(); ++row)
        QVERIFY2(list()->columnWidth(col) >= list()->fontMetrics().horizontalAdvance(cell(row, col)),
                 qPrintable(cell(row, col)));

    volume->setExpanded(true);
    clickItem(volume->child(1));  // Alpha
    QCOMPARE(list()->model()->rowCount(), 1);
    QCOMPARE(cell(0, 0), QStringLiteral("Inner.Txt"));
    QVERIFY(cell(0, 3) != QStringLiteral("Folder"));
  }

  // A Joliet and UDF image: names as a file manager shows them and in its order, in the tree and
  // the list, numbers in numeric order; the ISO 9660 names in the tool tips. A Rock Ridge name comes
  // before a Joliet name, which is cut at 64 characters.
  void realNamesInFileManagerOrder() {
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    const QString source = m_dir.filePath(QStringLiteral("names"));
    const QStringList folders = {"Zebra", "folder 10", QString::fromUtf8("\xc3\x9c" "bersicht"), "apple",
                                 "folder 9", QString::fromUtf8("Caf\xc3\xa9")};
    for (const QString& folder : folders) {
      // Each holds a file of its own: the trees' twins are proven by the data they share.
      QVERIFY(QDir(source).mkpath(folder));
      QFile f(source + QLatin1Char('/') + folder + QStringLiteral("/in.txt"));
      QVERIFY(f.open(QIODevice::WriteOnly));
      f.write(folder.toUtf8());
    }
    for (const char* file : {"file 10.txt", "b.txt", "A.txt", "file 2.txt"}) {
      QFile f(source + QLatin1Char('/') + QLatin1String(file));
      QVERIFY(f.open(QIODevice::WriteOnly));
      f.write("x");
    }
    const QString image = m_dir.filePath(QStringLiteral("names.iso"));
    QProcess maker;
    maker.start(qEnvironmentVariable("UMBRA_GENISOIMAGE", QStringLiteral("genisoimage")),
                {QStringLiteral("-quiet"), QStringLiteral("-J"), QStringLiteral("-udf"), QStringLiteral("-o"), image, source});
    QVERIFY(maker.waitForFinished(60000));
    QCOMPARE(maker.exitCode(), 0);
    openThroughDialog(image);
    QVERIFY(m_boxes.isEmpty());
    const QStringList sortedFolders = {"apple", QString::fromUtf8("Caf\xc3\xa9"), "folder 9", "folder 10",
                                       QString::fromUtf8("\xc3\x9c" "bersicht"), "Zebra"};
    QTreeWidgetItem* volume = tree()->topLevelItem(0);
    QStringList children;
    for (int i = 0; i < volume->childCount(); ++i) children << volume->child(i)->text(0);
    QVERIFY2(children == sortedFolders, qPrintable(children.join(QLatin1Char('|'))));
    clickItem(volume);
    QCOMPARE(column(0), sortedFolders + QStringList({"A.txt", "b.txt", "file 2.txt", "file 10.txt"}));
    const QString tip = list()->model()->index(1, 0).data(Qt::ToolTipRole).toString();
    QVERIFY2(tip.startsWith(QStringLiteral("ISO 9660: CAF")) && tip.contains(QString::fromUtf8("Joliet: Caf\xc3\xa9")) &&
                 tip.contains(QString::fromUtf8("UDF: Caf\xc3\xa9")),
             qPrintable(tip));

    // Rock Ridge before Joliet: the whole long name, where Joliet holds its first 64 characters.
    const QString longName = QString(70, QLatin1Char('L'));
    const QString rockSource = m_dir.filePath(QStringLiteral("rock"));
    QVERIFY(QDir(rockSource).mkpath(longName));
    const QString rockImage = m_dir.filePath(QStringLiteral("rock.iso"));
    maker.start(qEnvironmentVariable("UMBRA_XORRISO", QStringLiteral("xorriso")),
                {QStringLiteral("-as"), QStringLiteral("mkisofs"), QStringLiteral("-quiet"), QStringLiteral("-J"),
                 QStringLiteral("-o"), rockImage, rockSource});
    QVERIFY(maker.waitForFinished(60000));
    QCOMPARE(maker.exitCode(), 0);
    openThroughDialog(rockImage);
    QCOMPARE(tree()->topLevelItem(0)->child(0)->text(0), longName);
    clickItem(tree()->topLevelItem(0));
    QCOMPARE(cell(0, 0), longName);
    QLocale::setDefault(QLocale::system());
  }

  // Long names and deep trees: the Name column takes the width the other columns leave, every
  // other column shows whole, a wider window gives the names more room, each folder's listing
  // starts at its left, End goes to the last row (not the last column), and a deep tree scrolls
  // sideways instead of cutting its names.
  void longNamesAndDeepTreesHaveRoom() {
    const QString source = m_dir.filePath(QStringLiteral("long"));
    const QString longName = QStringLiteral("MiXeD CaSe Name With Spaces And Quite A Lot More Words");
    QString deep = source;
    for (int level = 1; level <= 10; ++level) deep += QStringLiteral("/level %1 of a deep tree").arg(level);
    QVERIFY(QDir().mkpath(deep));
    for (int i = 0; i < 40; ++i) {
      QFile f(source + QStringLiteral("/%1 %2.txt").arg(longName).arg(i));
      QVERIFY(f.open(QIODevice::WriteOnly));
      f.write("x");
    }
    const QString image = m_dir.filePath(QStringLiteral("long.iso"));
    QProcess maker;
    maker.start(qEnvironmentVariable("UMBRA_XORRISO", QStringLiteral("xorriso")),
                {QStringLiteral("-as"), QStringLiteral("mkisofs"), QStringLiteral("-quiet"), QStringLiteral("-J"),
                 QStringLiteral("-joliet-long"), QStringLiteral("-R"), QStringLiteral("-o"), image, source});
    QVERIFY(maker.waitForFinished(60000));
    QCOMPARE(maker.exitCode(), 0);
    openThroughDialog(image);
    QTreeWidgetItem* volume = tree()->topLevelItem(0);
    clickItem(volume);
    QHeaderView* header = list()->horizontalHeader();
    // Name takes what the other columns leave of the list (never less than its first 110 pixels).
    const auto nameFits = [&] {
      const int others = header->length() - list()->columnWidth(0);
      return list()->columnWidth(0) == qMax(110, list()->viewport()->width() - others);
    };
    QVERIFY(nameFits());
    for (int column = 1; column < header->count(); ++column)
      for (int row = 0; row < list()->model()->rowCount(); ++row)
        QVERIFY(list()->columnWidth(column) >= list()->fontMetrics().horizontalAdvance(cell(row, column)));
    const int narrowName = list()->columnWidth(0);
    m_dlg->resize(m_dlg->width() + 600, m_dlg->height() + 100);
    QTRY_VERIFY(list()->columnWidth(0) > narrowName);
    QVERIFY(nameFits());
    QCOMPARE(header->length(), list()->viewport()->width());  // wide enough: no sideways scrolling
    QVERIFY(list()->columnWidth(0) >= list()->fontMetrics().horizontalAdvance(cell(0, 0)));

    // End goes to the last row and leaves the names in view.
    clickRow(0);
    QTest::keyClick(list(), Qt::Key_End);
    QCOMPARE(list()->currentIndex().row(), list()->model()->rowCount() - 1);
    QCOMPARE(list()->currentIndex().column(), 0);
    QCOMPARE(list()->horizontalScrollBar()->value(), 0);
    QTest::keyClick(list(), Qt::Key_Home);
    QCOMPARE(list()->currentIndex().row(), 0);

    // Scrolled sideways in one folder, the next one starts at its left.
    m_dlg->resize(m_dlg->minimumSize());
    header->resizeSection(0, 2 * list()->viewport()->width());
    list()->horizontalScrollBar()->setValue(list()->horizontalScrollBar()->maximum());
    QVERIFY(list()->horizontalScrollBar()->value() > 0);
    volume->setExpanded(true);
    clickItem(volume->child(0));
    QCOMPARE(list()->horizontalScrollBar()->value(), 0);
    QVERIFY(nameFits());

    // The tenth level shows its whole name: the tree's column grows and the tree scrolls sideways.
    tree()->expandAll();
    QTreeWidgetItem* deepest = volume;
    while (deepest->childCount() > 0) deepest = deepest->child(0);
    QCOMPARE(deepest->text(0), QStringLiteral("level 10 of a deep tree"));
    const QRect place = tree()->visualItemRect(deepest);
    const int textEnd =
        place.left() + tree()->iconSize().width() + tree()->fontMetrics().horizontalAdvance(deepest->text(0));
    QVERIFY2(tree()->columnWidth(0) >= textEnd + tree()->horizontalScrollBar()->value(),
             qPrintable(QStringLiteral("%1 < %2").arg(tree()->columnWidth(0)).arg(textEnd)));
    QVERIFY(tree()->horizontalScrollBar()->maximum() > 0);
  }

  void hideAndShowFoldersInBothTrees() {
    openThroughDialog(m_image);
    QTreeWidgetItem* volume = tree()->topLevelItem(0);
    clickItem(volume);
    const int alpha = rowNamed(QStringLiteral("Alpha"));
    const int gamma = rowNamed(QStringLiteral("gamma.dir"));
    const int beta = rowNamed(QStringLiteral("beta"));
    clickRow(alpha);
    clickRow(gamma, Qt::ControlModifier);

    QByteArray before = readFile(m_image);
    const auto alphaAt = rootFolderRecords(before, "ALPHA", QStringLiteral("Alpha"));
    const auto gammaAt = rootFolderRecords(before, "GAMMA.DIR", QStringLiteral("gamma.dir"));
    const auto betaAt = rootFolderRecords(before, "BETA", QStringLiteral("beta"));
    for (qint64 at : {alphaAt.first, alphaAt.second, gammaAt.first, gammaAt.second}) {
      QVERIFY(at > 0);
      QCOMPARE(int(before[at + kFlagsOffset]), 2);
    }

    click("hide");
    QVERIFY(m_boxes.isEmpty());
    QByteArray after = readFile(m_image);
    for (qint64 at : {alphaAt.first, alphaAt.second, gammaAt.first, gammaAt.second})
      QCOMPARE(int(after[at + kFlagsOffset]), 7);
    QCOMPARE(int(after[betaAt.first + kFlagsOffset]), 2);
    QCOMPARE(int(after[betaAt.second + kFlagsOffset]), 2);
    for (int row : {alpha, gamma}) QCOMPARE(cell(row, 1), QStringLiteral("Hidden"));
    QCOMPARE(cell(beta, 1), QStringLiteral("Normal"));
    // The padlock stands in the state slot of hidden rows only.
    const auto stateSlot = [&](int row) {
      const QPixmap decoration = list()->model()->index(row, 0).data(Qt::DecorationRole).value<QPixmap>();
      return decoration.toImage().copy(0, 0, 16, 16);
    };
    QImage empty(stateSlot(beta).size(), stateSlot(beta).format());
    empty.fill(Qt::transparent);
    QCOMPARE(stateSlot(beta), empty);
    QVERIFY(stateSlot(alpha) != empty);

    // Listed again, the rows say what the file holds.
    clickItem(volume->child(1));
    clickItem(volume);
    QCOMPARE(cell(alpha, 1), QStringLiteral("Hidden"));
    QCOMPARE(cell(gamma, 1), QStringLiteral("Hidden"));
    QCOMPARE(volume->childCount(), 4);  // a hidden folder stays in the tree
    // The tree marks the hidden folders as the list does.
    const QImage padlock = QIcon(QStringLiteral(":/res/icons/padlock.svg")).pixmap(16).toImage();
    for (int i = 0; i < volume->childCount(); ++i) {
      const bool hidden = volume->child(i)->text(0) == QStringLiteral("Alpha") || volume->child(i)->text(0) == QStringLiteral("gamma.dir");
      QCOMPARE(volume->child(i)->icon(0).pixmap(16).toImage() == padlock, hidden);
    }

    // Hidden folders only: the button says Show, and shows them.
    clickRow(alpha);
    clickRow(gamma, Qt::ControlModifier);
    QTRY_COMPARE(hideButton()->text(), QString::fromLatin1(CMainDlg::kShowCaption));
    click("hide");
    after = readFile(m_image);
    for (qint64 at : {alphaAt.first, alphaAt.second, gammaAt.first, gammaAt.second})
      QCOMPARE(int(after[at + kFlagsOffset]), 2);
    QCOMPARE(cell(alpha, 1), QStringLiteral("Normal"));
    QCOMPARE(cell(gamma, 1), QStringLiteral("Normal"));
    QVERIFY(m_boxes.isEmpty());
    QTRY_COMPARE(hideButton()->text(), QString::fromLatin1(CMainDlg::kHideCaption));  // the same rows, now seen
  }

  // A selection of a hidden folder, a normal one and a file: the button says Hide, and the press
  // hides the normal folder and the file (after the question about hidden files); the hidden one
  // stays hidden. Every row is then hidden, so the next press shows them all.
  void mixedSelectionHidesWhatIsSeen() {
    openThroughDialog(m_image);
    clickItem(tree()->topLevelItem(0));
    const int alpha = rowNamed(QStringLiteral("Alpha"));
    const int beta = rowNamed(QStringLiteral("beta"));
    const int readme = rowNamed(QStringLiteral("README"));
    clickRow(alpha);
    QTRY_COMPARE(hideButton()->text(), QString::fromLatin1(CMainDlg::kHideCaption));
    click("hide");
    QCOMPARE(cell(alpha, 1), QStringLiteral("Hidden"));
    QTRY_COMPARE(hideButton()->text(), QString::fromLatin1(CMainDlg::kShowCaption));
    QCOMPARE(hideButton()->tipText(), QString::fromLatin1(CMainDlg::kShowTip));
    clickRow(readme, Qt::ControlModifier);  // a file that is seen: the press hides
    QTRY_COMPARE(hideButton()->text(), QString::fromLatin1(CMainDlg::kHideCaption));
    QCOMPARE(hideButton()->tipText(), QString::fromLatin1(CMainDlg::kHideTip));
    clickRow(beta, Qt::ControlModifier);
    const QByteArray before = readFile(m_image);
    m_answer = QMessageBox::Yes;
    click("hide");
    const QByteArray after = readFile(m_image);
    const auto alphaAt = rootFolderRecords(after, "ALPHA", QStringLiteral("Alpha"));
    const auto betaAt = rootFolderRecords(after, "BETA", QStringLiteral("beta"));
    const auto readmeAt = rootFolderRecords(after, "README.;1", QStringLiteral("README"));
    for (qint64 at : {alphaAt.first, alphaAt.second, betaAt.first, betaAt.second})
      QCOMPARE(int(after[at + kFlagsOffset]), 7);
    for (qint64 at : {readmeAt.first, readmeAt.second}) QCOMPARE(int(after[at + kFlagsOffset]), 5);
    bool stamped = false;
    QCOMPARE(changedBesidesStamp(before, after, stamped), 4);  // beta's and README's records, nothing else
    for (int row : {alpha, beta, readme}) QCOMPARE(cell(row, 1), QStringLiteral("Hidden"));
    QCOMPARE(m_boxes.size(), 1);
    QCOMPARE(m_boxes[0].icon, QMessageBox::Question);
    QVERIFY2(m_boxes[0].text.startsWith(QString::fromLatin1(umbra::kHiddenFileReachNotice)),
             qPrintable(m_boxes[0].text));
    // Alt and the underlined letter press it too: now every row is hidden, so it shows them.
    QTRY_COMPARE(hideButton()->text(), QString::fromLatin1(CMainDlg::kShowCaption));
    m_dlg->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_dlg.get()));
    list()->setFocus();
    QTest::keyClick(list(), Qt::Key_S, Qt::AltModifier);
    QTRY_COMPARE(cell(beta, 1), QStringLiteral("Normal"));
    for (int row : {alpha, readme}) QCOMPARE(cell(row, 1), QStringLiteral("Normal"));
    QCOMPARE(m_boxes.size(), 1);                                           // showing asks nothing
    QCOMPARE(changedBesidesStamp(before, readFile(m_image), stamped), 2);  // Alpha, hidden before, is shown
  }

  void partlyHiddenRowIsShownSoAndHideCompletesIt() {
    // BETA hidden in the Joliet tree only, as a write cut short leaves it.
    QByteArray image = readFile(m_image);
    const auto betaAt = rootFolderRecords(image, "BETA", QStringLiteral("beta"));
    QVERIFY(betaAt.first > 0 && betaAt.second > 0);
    image[betaAt.second + kFlagsOffset] = 5;
    {
      QFile file(m_image);
      QVERIFY(file.open(QIODevice::WriteOnly));
      file.write(image);
    }
    openThroughDialog(m_image);
    clickItem(tree()->topLevelItem(0));
    const int beta = rowNamed(QStringLiteral("beta"));
    QCOMPARE(cell(beta, 1), QStringLiteral("Partly hidden"));
    const QPixmap decoration = list()->model()->index(beta, 0).data(Qt::DecorationRole).value<QPixmap>();
    QImage empty(16, 16, decoration.toImage().format());
    empty.fill(Qt::transparent);
    QVERIFY(decoration.toImage().copy(0, 0, 16, 16) != empty);  // the padlock
    QCOMPARE(list()->model()->index(beta, 0).data(Qt::ToolTipRole).toString(),
             QStringLiteral("ISO 9660: BETA\nRock Ridge: beta\nJoliet: beta\nState: Partly hidden\nRecord 2 of the folder"));
    // The tree item says the same when the pointer rests on it.
    QTreeWidgetItem* volume = tree()->topLevelItem(0);
    volume->setExpanded(true);
    QTreeWidgetItem* betaItem = volume->child(2);
    QCOMPARE(betaItem->text(0), QStringLiteral("beta"));
    QCOMPARE(betaItem->icon(0).pixmap(16).toImage(), QIcon(QStringLiteral(":/res/icons/padlock.svg")).pixmap(16).toImage());
    QTest::mouseMove(tree()->viewport(), tree()->visualItemRect(betaItem).center());
    QTRY_COMPARE_WITH_TIMEOUT(QToolTip::text(), QStringLiteral("ISO 9660: BETA\nRock Ridge: beta\nJoliet: beta\nState: Partly hidden"), 5000);

    clickRow(beta);
    click("hide");
    QVERIFY(m_boxes.isEmpty());
    const QByteArray after = readFile(m_image);
    QCOMPARE(int(after[betaAt.first + kFlagsOffset]), 7);
    QCOMPARE(int(after[betaAt.second + kFlagsOffset]), 7);
    QCOMPARE(cell(beta, 1), QStringLiteral("Hidden"));
  }

  void aFolderWithoutAProvenTwinIsLeftAndNamed() {
    // Two empty folders whose names differ only in case: genisoimage gives them ISO 9660 names that
    // prove nothing, so neither can be hidden in one tree without guessing which record is which.
    const QString source = m_dir.filePath(QStringLiteral("twins"));
    QDir(source).mkpath(QStringLiteral("Docs"));
    QDir(source).mkpath(QStringLiteral("DOCS"));
    QDir(source).mkpath(QStringLiteral("zeta"));
    const QString image = m_dir.filePath(QStringLiteral("twins.iso"));
    QProcess maker;
    maker.start(qEnvironmentVariable("UMBRA_GENISOIMAGE", QStringLiteral("genisoimage")),
                {QStringLiteral("-quiet"), QStringLiteral("-J"), QStringLiteral("-o"), image, source});
    QVERIFY(maker.waitForFinished(60000));
    QCOMPARE(maker.exitCode(), 0);
    openThroughDialog(image);
    clickItem(tree()->topLevelItem(0));
    const int zeta = rowNamed(QStringLiteral("zeta"));
    const int docs = rowWithTip(QStringLiteral("Joliet: Docs"));
    QVERIFY(zeta >= 0 && docs >= 0 && docs < zeta);  // both Docs folders sort before zeta
    clickRow(zeta);
    clickRow(docs, Qt::ControlModifier);
    const QByteArray before = readFile(image);
    click("hide");
    // zeta is hidden; Docs is left as it was and named with the tree it has no proven twin in.
    QCOMPARE(m_boxes.size(), 1);
    QCOMPARE(m_boxes[0].title, QStringLiteral("Umbradisc"));
    QCOMPARE(m_boxes[0].icon, QMessageBox::Warning);
    QVERIFY2(
        m_boxes[0].text.startsWith(QStringLiteral("These could not be hidden and were left as they were:\n\nDocs: ")) &&
            m_boxes[0].text.contains(QStringLiteral("ISO 9660 tree")),
        qPrintable(m_boxes[0].text));
    bool stamped = false;
    QCOMPARE(changedBesidesStamp(before, readFile(image), stamped), 2);  // zeta's two records
    QVERIFY(stamped);
    QCOMPARE(cell(zeta, 1), QStringLiteral("Hidden"));
    QCOMPARE(cell(docs, 1), QStringLiteral("Normal"));
  }

  // The first hide of files in a session asks, saying what readers do with hidden files: No writes
  // nothing and the next press asks again; Yes hides them, and later hides of files ask no more.
  void filesAreHiddenAfterOneQuestionPerSession() {
    openThroughDialog(m_image);
    clickItem(tree()->topLevelItem(0));
    const int readme = rowNamed(QStringLiteral("README"));
    const int mixed = rowNamed(QStringLiteral("MixedCase.Txt"));
    clickRow(readme);
    const QByteArray before = readFile(m_image);
    m_answer = QMessageBox::No;
    click("hide");
    QCOMPARE(m_boxes.size(), 1);
    QCOMPARE(m_boxes[0].icon, QMessageBox::Question);
    QVERIFY2(m_boxes[0].text.startsWith(QString::fromLatin1(umbra::kHiddenFileReachNotice)),
             qPrintable(m_boxes[0].text));
    QVERIFY(readFile(m_image) == before);
    QCOMPARE(cell(readme, 1), QStringLiteral("Normal"));

    m_answer = QMessageBox::Yes;
    click("hide");
    QCOMPARE(m_boxes.size(), 2);
    bool stamped = false;
    QCOMPARE(changedBesidesStamp(before, readFile(m_image), stamped), 2);  // README's two records
    QVERIFY(stamped);
    QCOMPARE(cell(readme, 1), QStringLiteral("Hidden"));
    clickRow(mixed);
    click("hide");
    QCOMPARE(m_boxes.size(), 2);  // asked once in this window's session
    QCOMPARE(cell(mixed, 1), QStringLiteral("Hidden"));
    QCOMPARE(changedBesidesStamp(before, readFile(m_image), stamped), 4);
  }

  // A press with nothing to act on says so in one line, and writes nothing.
  void hideWithNothingToActOnSaysSo() {
    click("hide");
    QCOMPARE(m_boxes.size(), 1);
    QCOMPARE(m_boxes[0].text, QString::fromLatin1(CMainDlg::kNoImageToHideMessage));
    QCOMPARE(m_boxes[0].icon, QMessageBox::Information);
    openThroughDialog(m_image);
    clickItem(tree()->topLevelItem(0));
    const QByteArray before = readFile(m_image);
    m_boxes.clear();
    click("hide");
    QCOMPARE(m_boxes.size(), 1);
    QCOMPARE(m_boxes[0].text, QString::fromLatin1(CMainDlg::kNothingSelectedMessage));
    QVERIFY(!m_boxes[0].text.contains(QLatin1Char('\n')));
    QCOMPARE(readFile(m_image), before);
  }

  void saveClosesAndClears() {
    openThroughDialog(m_image);
    clickItem(tree()->topLevelItem(0));
    QVERIFY(list()->model()->rowCount() > 0);
    const QByteArray before = readFile(m_image);
    click("save");
    // Burning is available here (libburn starts), so Save offers it; the watcher answers No.
    QCOMPARE(m_boxes.size(), 1);
    QCOMPARE(m_boxes[0].title, QStringLiteral("Umbradisc"));
    QCOMPARE(m_boxes[0].text, QStringLiteral("The image is saved.\r\n\r\nWould you like to burn it now?"));
    QCOMPARE(m_boxes[0].icon, QMessageBox::Question);
    m_boxes.clear();
    QCOMPARE(readFile(m_image), before);
    QVERIFY(!m_dlg->workspace().isOpen());
    QCOMPARE(tree()->topLevelItemCount(), 0);
    QCOMPARE(list()->model()->rowCount(), 0);
    QVERIFY(!tree()->isVisible() && !list()->isVisible());
    QVERIFY(m_dlg->howToPage()->isVisible());  // no image open: the instructions page
    QCOMPARE(m_dlg->imagePath(), m_image);
    click("save");  // nothing open: it says so
    QCOMPARE(m_boxes.size(), 1);
    QCOMPARE(m_boxes[0].text, QString::fromLatin1(CMainDlg::kNothingToSaveMessage));
    umbra::Workspace other;  // the file is free again
    QVERIFY(!other.open(m_image.toStdString(), umbra::OpenMode::Work));
  }

  // Many folders: Hide shows its progress, and Cancel stops between two folders; what was written
  // stays written, is on disk in both trees, and the rows show it.
  void cancellingAManyFolderHideStopsBetweenFolders() {
    const QString source = m_dir.filePath(QStringLiteral("many"));
    for (int i = 0; i < 60; ++i) {
      const QString folder = source + QStringLiteral("/Folder %1").arg(i, 2, 10, QLatin1Char('0'));
      QVERIFY(QDir().mkpath(folder));
      QFile f(folder + QStringLiteral("/f.txt"));
      QVERIFY(f.open(QIODevice::WriteOnly));
      f.write(QByteArray::number(i));
    }
    const QString image = m_dir.filePath(QStringLiteral("many.iso"));
    QFile::remove(image);
    QCOMPARE(QProcess::execute(qEnvironmentVariable("UMBRA_XORRISO", QStringLiteral("xorriso")),
                               {QStringLiteral("-as"), QStringLiteral("mkisofs"), QStringLiteral("-quiet"),
                                QStringLiteral("-J"), QStringLiteral("-R"), QStringLiteral("-o"), image, source}),
             0);
    openThroughDialog(image);
    clickItem(tree()->topLevelItem(0));
    QCOMPARE(list()->model()->rowCount(), 60);
    clickRow(0);
    clickRow(59, Qt::ShiftModifier);

    int seenAt = -1;
    QTimer cancel;
    connect(&cancel, &QTimer::timeout, this, [&] {
      auto* progress = qobject_cast<QProgressDialog*>(QApplication::activeModalWidget());
      if (!progress || seenAt >= 0 || progress->value() < 10) return;
      seenAt = progress->value();
      QTest::mouseClick(progress->findChild<QPushButton*>(), Qt::LeftButton);
    });
    cancel.start(0);
    click("hide");
    cancel.stop();
    QVERIFY(m_boxes.isEmpty());
    QVERIFY2(seenAt >= 10, "the progress dialog was never seen");

    int hiddenRows = 0;
    for (int row = 0; row < 60; ++row) hiddenRows += cell(row, 1) == QStringLiteral("Hidden");
    QVERIFY2(hiddenRows >= seenAt && hiddenRows < 60, qPrintable(QString::number(hiddenRows)));
    for (bool joliet : {false, true}) {
      int hiddenRecords = 0;
      for (const umbra::test::IsoinfoEntry& e : umbra::test::isoinfoList(image.toStdString(), joliet))
        hiddenRecords += e.directory == "/" && e.flags == 7;
      QCOMPARE(hiddenRecords, hiddenRows);
    }
  }

  void hideAfterTheImageWasReplacedWritesNothing_data() {
    QTest::addColumn<bool>("renamed");  // a new file renamed over it, or cp into the open file
    QTest::addColumn<bool>("openNew");  // the answer to the offer to open the file there now
    QTest::newRow("renamed over, No") << true << false;
    QTest::newRow("renamed over, Yes") << true << true;
    QTest::newRow("cp over, No") << false << false;
    QTest::newRow("cp over, Yes") << false << true;
  }

  void hideAfterTheImageWasReplacedWritesNothing() {
    QFETCH(bool, renamed);
    QFETCH(bool, openNew);
    openThroughDialog(m_image);
    clickItem(tree()->topLevelItem(0));
    clickRow(rowNamed(QStringLiteral("Alpha")));
    // The open file keeps a second name, so what reaches it can be seen after the rename.
    const QString held = m_dir.filePath(QStringLiteral("held.iso"));
    QFile::remove(held);
    QVERIFY(::link(QFile::encodeName(m_image).constData(), QFile::encodeName(held).constData()) == 0);
    const QByteArray heldBefore = readFile(held);

    // The replacement: the pristine image with a different volume name, so the two differ.
    QByteArray replacement = readFile(m_pristine);
    replacement.replace(0x8000 + 40, 10, "REPLACED  ");
    const QString next = m_dir.filePath(QStringLiteral("next.iso"));
    QFile::remove(next);
    QFile out(next);
    QVERIFY(out.open(QIODevice::WriteOnly));
    out.write(replacement);
    out.close();
    if (renamed)
      QVERIFY(::rename(QFile::encodeName(next).constData(), QFile::encodeName(m_image).constData()) == 0);
    else
      QCOMPARE(QProcess::execute(QStringLiteral("cp"), {next, m_image}), 0);

    m_answer = openNew ? QMessageBox::Yes : QMessageBox::No;
    click("hide");
    QCOMPARE(m_boxes.size(), 1);
    QVERIFY2(m_boxes[0].text.contains(QStringLiteral("replaced or changed after it was opened")), qPrintable(m_boxes[0].text));
    QVERIFY(m_boxes[0].text.endsWith(QString::fromLatin1(CMainDlg::kOpenReplacedQuestion)));
    QCOMPARE(m_boxes[0].icon, QMessageBox::Question);
    QCOMPARE(readFile(m_image).mid(0x8000 + 40, 10), QByteArray("REPLACED  "));
    if (renamed) QCOMPARE(readFile(held), heldBefore);  // the old file, still open, got nothing
    if (openNew) {
      // The window now works on the file that has the name: a hide lands there.
      QVERIFY(m_dlg->workspace().isOpen());
      QVERIFY2(tree()->topLevelItem(0)->text(0).startsWith(QStringLiteral("REPLACED")), qPrintable(tree()->topLevelItem(0)->text(0)));
      const QByteArray before = readFile(m_image);
      clickItem(tree()->topLevelItem(0));
      clickRow(rowNamed(QStringLiteral("Alpha")));
      click("hide");
      QCOMPARE(m_boxes.size(), 1);
      const auto alphaAt = rootFolderRecords(before, "ALPHA", QStringLiteral("Alpha"));
      QCOMPARE(int(readFile(m_image)[alphaAt.first + kFlagsOffset]), 7);
    } else {
      QCOMPARE(cell(rowNamed(QStringLiteral("Alpha")), 1), QStringLiteral("Normal"));
      QCOMPARE(readFile(m_image), replacement);  // nothing reached the file there now
    }
    if (renamed) QCOMPARE(readFile(held), heldBefore);
  }

  void closingTheWindowReleasesTheImage() {
    openThroughDialog(m_image);
    QVERIFY(m_dlg->workspace().isOpen());
    m_dlg->close();
    QVERIFY(!m_dlg->workspace().isOpen());
    QCOMPARE(tree()->topLevelItemCount(), 0);
  }

  void openFailuresAreTold_data() {
    QTest::addColumn<QString>("kind");
    QTest::newRow("missing") << "missing";
    QTest::newRow("held by another program") << "locked";
    QTest::newRow("not an ISO 9660 image") << "notiso";
  }

  void openFailuresAreTold() {
    QFETCH(QString, kind);
    QString path = m_image;
    QProcess holder;
    if (kind == QLatin1String("missing")) {
      path = m_dir.filePath(QStringLiteral("no such image.iso"));
    } else if (kind == QLatin1String("locked")) {
      holder.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--hold-lock"), path});
      QVERIFY(holder.waitForReadyRead(10000));
      QCOMPARE(holder.readLine(), QByteArray("locked\n"));
    } else {
      QFile file(path);
      QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
      file.write(QByteArray(64 * 1024, 'x'));
    }
    const QByteArray before = readFile(path);
    openThroughDialog(path);
    if (holder.state() == QProcess::Running) {
      holder.closeWriteChannel();
      QVERIFY(holder.waitForFinished(10000));
    }
    QCOMPARE(m_boxes.size(), 1);
    QCOMPARE(m_boxes[0].title, QStringLiteral("Umbradisc"));
    QVERIFY2(m_boxes[0].text.startsWith(path + QStringLiteral(": ")), qPrintable(m_boxes[0].text));
    QVERIFY(m_boxes[0].text.size() > path.size() + 3);  // and the reason
    QCOMPARE(readFile(path), before);  // nothing written
    QVERIFY(!m_dlg->workspace().isOpen());
    QVERIFY(m_dlg->howToPage()->isVisible());
    QCOMPARE(tree()->topLevelItemCount(), 1);
    QCOMPARE(tree()->topLevelItem(0)->text(0), QStringLiteral("Not selected"));
  }

  void aReadOnlyImageOpensForBrowsingWithHideOff() {
    // File modes do not stop the super-user; the immutable attribute does.
    bool immutable = false;
#ifndef _WIN32
    if (::geteuid() == 0) {
      if (QProcess::execute(QStringLiteral("chattr"), {QStringLiteral("+i"), m_image}) != 0)
        QSKIP("the super-user writes through file modes, and chattr +i is not available here");
      immutable = true;
    }
#endif
    const auto undo = qScopeGuard([&] {
      if (immutable) QProcess::execute(QStringLiteral("chattr"), {QStringLiteral("-i"), m_image});
      QFile::setPermissions(m_image, QFile::ReadOwner | QFile::WriteOwner);
    });
    if (!immutable) QFile::setPermissions(m_image, QFile::ReadOwner);
    const QByteArray before = readFile(m_image);
    auto* hide = m_dlg->findChild<umbra::CSkinButton*>(QStringLiteral("hide"));
    const QImage enabledLook = hide->grab().toImage();
    openThroughDialog(m_image);
    QVERIFY(m_dlg->workspace().isOpen());
    QCOMPARE(m_boxes.size(), 1);
    QVERIFY2(m_boxes[0].text.startsWith(QStringLiteral("This image opens for browsing only; Hide is turned off: ")),
             qPrintable(m_boxes[0].text));
    // Off, and it looks off: the same caption drawn greyed; its tool tip says why.
    QVERIFY(!hide->isEnabled());
    QCOMPARE(hide->text(), QString::fromLatin1(CMainDlg::kHideCaption));
    QVERIFY(hide->grab().toImage() != enabledLook);
    const QPoint inside = hide->rect().center();
    QHelpEvent help(QEvent::ToolTip, inside, hide->mapToGlobal(inside));
    QApplication::sendEvent(hide, &help);
    QTRY_VERIFY(QToolTip::isVisible());
    QVERIFY2(QToolTip::text().startsWith(QStringLiteral("This image cannot be written, so Hide is off: ")),
             qPrintable(QToolTip::text()));
    QToolTip::hideText();
    // Browsing works: the root lists, a folder selected and Hide clicked writes nothing.
    clickItem(tree()->topLevelItem(0));
    QVERIFY(list()->model()->rowCount() > 0);
    clickRow(rowNamed(QStringLiteral("Alpha")));
    click("hide");
    QCOMPARE(m_boxes.size(), 1);
    QCOMPARE(cell(rowNamed(QStringLiteral("Alpha")), 1), QStringLiteral("Normal"));
    QCOMPARE(readFile(m_image), before);

    // The next image that can be written turns Hide on again.
    m_boxes.clear();
    const QString writable = m_dir.filePath(QStringLiteral("writable.iso"));
    QFile::remove(writable);
    QVERIFY(QFile::copy(m_pristine, writable));
    QFile::setPermissions(writable, QFile::ReadOwner | QFile::WriteOwner);
    openThroughDialog(writable);
    QVERIFY(m_boxes.isEmpty());
    QVERIFY(hide->isEnabled());
    QCOMPARE(hide->grab().toImage(), enabledLook);
  }

  void unknownFormatKeepsThePartialTree() {
    // The second path-table record (ALPHA) of both trees points at a parent that does not exist.
    QByteArray image = readFile(m_image);
    for (qint64 sector = 16; sector < 32; ++sector) {
      const qint64 at = sector * kSector;
      const quint8 type = static_cast<quint8>(image[at]);
      if (type == 255) break;
      if (type != 1 && type != 2) continue;
      const qint64 lTable = le32(image, at + 140) * kSector;
      const qint64 mTable = umbra::readBe32(reinterpret_cast<const uint8_t*>(image.constData() + at + 148)) * kSector;
      const qint64 second = 8 + static_cast<quint8>(image[lTable]) + (static_cast<quint8>(image[lTable]) & 1);
      image[lTable + second + 6] = 0;
      image[lTable + second + 7] = 0;
      image[mTable + second + 6] = 0;
      image[mTable + second + 7] = 0;
    }
    QFile file(m_image);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(image);
    file.close();

    openThroughDialog(m_image);
    QCOMPARE(m_boxes.size(), 1);
    QCOMPARE(m_boxes[0].text, QStringLiteral("Unknown format. Open Failed."));
    QCOMPARE(m_boxes[0].icon, QMessageBox::Warning);
    QVERIFY(m_dlg->workspace().isOpen());
    QCOMPARE(tree()->topLevelItemCount(), 1);
    QCOMPARE(tree()->topLevelItem(0)->childCount(), 0);  // the walk stopped at ALPHA
    clickItem(tree()->topLevelItem(0));
    QVERIFY(list()->model()->rowCount() > 0);  // what was built can still be listed
  }
};

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "--hold-lock") == 0) return holdLock(argv[2]);
  QApplication app(argc, argv);
  TestWorkspaceView test;
  return QTest::qExec(&test, argc, argv);
}

#include "tst_workspace_view.moc"

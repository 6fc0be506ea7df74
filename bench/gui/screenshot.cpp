// Saves pictures of the main window for the documentation: the start page and, given an image
// file, the window with that image open, its tree opened and a folder hidden. --size gives the
// window another size than its first one; QT_SCALE_FACTOR gives the screen's scale.
//   umbra_gui_screenshot [--size WIDTHxHEIGHT] <start.png> [<image.iso> <open.png>]
#include <QApplication>
#include <QRegularExpression>
#include <QTableView>
#include <QTreeWidget>

#include "app/CMainDlg.h"
#include "app/CUmbradiscApp.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QStringList args = app.arguments();
  QSize size;
  if (args.size() > 2 && args[1] == QLatin1String("--size")) {
    const QRegularExpressionMatch match = QRegularExpression(QStringLiteral("^(\\d+)x(\\d+)$")).match(args[2]);
    if (!match.hasMatch()) return 2;
    size = QSize(match.captured(1).toInt(), match.captured(2).toInt());
    args.remove(1, 2);
  }
  if (args.size() != 2 && args.size() != 4) return 2;
  umbra::CUmbradiscApp::setDialogColours(app);
  umbra::CMainDlg dlg;
  if (size.isValid()) dlg.resize(size);
  dlg.show();
  QApplication::processEvents();
  if (!dlg.grab().save(args[1])) return 1;
  if (args.size() == 4) {
    dlg.setFileChooser([&](QWidget*) { return args[2]; });
    dlg.onOpenImage();
    QTreeWidget* tree = dlg.tree();
    tree->expandAll();
    QTreeWidgetItem* root = tree->topLevelItem(0);
    if (root) tree->setCurrentItem(root);
    // Hide the third row (a folder in the example image) to show the padlock.
    dlg.list()->selectRow(2);
    dlg.onHide();
    QApplication::processEvents();
    if (!dlg.grab().save(args[3])) return 1;
  }
  return 0;
}

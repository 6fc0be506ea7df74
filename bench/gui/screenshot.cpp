// Saves pictures of the main window for the documentation: the start page and, given an image
// file, the window with that image open and its first folder listed.
//   umbra_gui_screenshot <start.png> [<image.iso> <open.png>]
#include <QApplication>
#include <QTableView>
#include <QTreeWidget>

#include "app/CMainDlg.h"
#include "app/CUmbradiscApp.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  const QStringList args = app.arguments();
  if (args.size() != 2 && args.size() != 4) return 2;
  umbra::CUmbradiscApp::setDialogColours(app);
  umbra::CMainDlg dlg;
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

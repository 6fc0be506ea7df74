// The main window's controls: making them and wiring their signals, the tree and the list, the
// window menu and keys, and the buttons about the window itself (Help, Minimize, Close, About).
// A button that works on the image has its handler in MainDlgWorkspace.cpp, one that starts a back
// end in MainDlgCommands.cpp.
#include "app/CMainDlg.h"
#include "app/TreeToolTips.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QFrame>
#include <QGuiApplication>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QKeySequence>
#include <QMenu>
#include <QShortcut>
#include <QSizeGrip>
#include <QTableView>
#include <QTreeWidget>
#include <QWindow>
#include <iterator>

#include "app/CAboutDlg.h"
#include "app/CUmbradiscApp.h"
#include "app/FileListModel.h"
#include "app/FileListView.h"
#include "app/FileTypes.h"
#include "app/Resources.h"
#include "controls/CRoundDlg.h"
#include "controls/CSkinButton.h"
#include "controls/DialogUnits.h"
#include "update/ui/UpdatePromptUi.h"

namespace umbra {

namespace {
constexpr int kTreeIconSide = 16;
constexpr int kCommandIconSide = 48;
constexpr int kSmallIconSide = 24;
}  // namespace

CMainDlg::CMainDlg(QWidget* parent) : QDialog(parent) {
  setWindowFlags(Qt::Window | Qt::FramelessWindowHint | Qt::WindowMinimizeButtonHint |
                 Qt::WindowSystemMenuHint);
  setWindowTitle(QString::fromLatin1(kTitle));  // names the task-bar entry; there is no title bar
  setAcceptDrops(true);                          // an image dropped on the window is opened
  setFont(DialogUnits::templateFont());
  m_icon = QIcon(QString::fromLatin1(res::kIconApp));
  m_folderIcon = QIcon(QString::fromLatin1(res::kIconFolder));
  m_hiddenIcon = QIcon(QString::fromLatin1(res::kIconPadlock));
  m_discIcon = QIcon(QString::fromLatin1(res::kIconDisc));
  m_noneIcon = QIcon(QString::fromLatin1(res::kIconDiscUnknown));
  setWindowIcon(m_icon);

  createControls();
  createWindowMenu();
  configureButtons();
  setUpTree();
  setUpList();
  m_makeImageButton->setFocus();
  // The update check's questions stand over this window and take input while it runs modally.
  setUpdatePromptOwner(this);
}

CMainDlg::~CMainDlg() = default;

void CMainDlg::createControls() {
  const DialogUnits du(font());
  // The template's size is the smallest; the window grows from there and may be maximised.
  setMinimumSize(du.size(kWidthUnits, kHeightUnits));
  resize(minimumSize());
  setMouseTracking(true);  // the skin's edges show the resize cursor

  // In tab order.
  const struct {
    CSkinButton* CMainDlg::*member;
    const char* name;
    const char* caption;
    int x, y, width, height;
  } buttons[] = {
      {&CMainDlg::m_makeImageButton, "makeImage", "Make Image", 198, 24, 54, 29},
      {&CMainDlg::m_openImageButton, "openImage", "Open Image", 258, 24, 54, 29},
      {&CMainDlg::m_hideButton, "hide", kHideCaption, 318, 24, 54, 29},
      {&CMainDlg::m_saveButton, "save", "Save", 378, 24, 54, 29},
      {&CMainDlg::m_burnButton, "burn", "Burn CD", 438, 24, 54, 29},
      {&CMainDlg::m_updateButton, "update", "", 436, 308, 18, 17},
      {&CMainDlg::m_helpButton, "help", "", 461, 308, 18, 17},
      {&CMainDlg::m_minimizeButton, "minimize", "", 461, 1, 19, 18},
      {&CMainDlg::m_closeButton, "close", "", 482, 1, 19, 18},
  };
  for (const auto& b : buttons) {
    auto* button = new CSkinButton(QString::fromLatin1(b.caption), this);
    button->setObjectName(QString::fromLatin1(b.name));
    placeAt(button, du.rect(b.x, b.y, b.width, b.height));
    this->*b.member = button;
  }

  m_tree = new QTreeWidget(this);
  m_tree->setObjectName(QStringLiteral("tree"));
  placeAt(m_tree, du.rect(37, 85, 179, 209));
  m_list = new FileListView(this);
  m_list->setObjectName(QStringLiteral("list"));
  placeAt(m_list, du.rect(220, 85, 251, 210));
  // Tab follows the layout: the title bar's buttons, the command row, the tree and the list, then
  // the buttons below them.
  QWidget* const tabOrder[] = {m_minimizeButton, m_closeButton,  m_makeImageButton, m_openImageButton,
                               m_hideButton,     m_saveButton,   m_burnButton,      m_tree,
                               m_list,           m_updateButton, m_helpButton};
  for (size_t i = 1; i < std::size(tabOrder); ++i) QWidget::setTabOrder(tabOrder[i - 1], tabOrder[i]);

  // The placeholder only marks where the workspace frame lies; it is never shown.
  m_stcFrame = new QFrame(this);
  m_stcFrame->setFrameShape(QFrame::Box);
  placeAt(m_stcFrame, du.rect(22, 73, 457, 233));
  m_stcFrame->setVisible(false);
  m_frame = m_stcFrame->geometry();

  m_howToPage = new CRoundDlg(this);
  placeAt(m_howToPage, m_frame);
  m_howToPage->show();
  showWorkspace(false);

  // The corner's grip shows that the window can be resized (it hides while the window is maximised).
  m_sizeGrip = new QSizeGrip(this);
  m_sizeGrip->setObjectName(QStringLiteral("sizeGrip"));
  layOut();

  connect(m_openImageButton, &QPushButton::clicked, this, &CMainDlg::onOpenImage);
  connect(m_hideButton, &QPushButton::clicked, this, &CMainDlg::onHide);
  connect(m_saveButton, &QPushButton::clicked, this, &CMainDlg::onSave);
  connect(m_makeImageButton, &QPushButton::clicked, this, &CMainDlg::onMakeImage);
  connect(m_burnButton, &QPushButton::clicked, this, &CMainDlg::onBurnCD);
  connect(m_updateButton, &QPushButton::clicked, this, &CMainDlg::onCheckUpdate);
  connect(m_helpButton, &QPushButton::clicked, this, &CMainDlg::onHelp);
  connect(m_minimizeButton, &QPushButton::clicked, this, &CMainDlg::onMinimize);
  connect(m_closeButton, &QPushButton::clicked, this, &CMainDlg::onClose);
  connect(m_tree, &QTreeWidget::itemSelectionChanged, this, &CMainDlg::onFolderSelChanged);
  // An opened branch shows its subfolders by the names and marks their folder's listing gives.
  connect(m_tree, &QTreeWidget::itemExpanded, this, [this](QTreeWidgetItem* item) {
    markChildren(item->data(0, kNodeRole).toInt());
    fitTreeColumn();
  });
  connect(m_tree, &QTreeWidget::itemCollapsed, this, &CMainDlg::fitTreeColumn);
  new TreeToolTips(m_tree, kNodeRole, [this](int node) { return folderToolTip(node); });

  auto* help = new QShortcut(QKeySequence(Qt::Key_F1), this);
  connect(help, &QShortcut::activated, this, &CMainDlg::onHelp);
  auto* menu = new QShortcut(QKeySequence(Qt::ALT | Qt::Key_Space), this);
  connect(menu, &QShortcut::activated, this, &CMainDlg::showWindowMenuFromKeyboard);
  // The shortcut answers only while the window counts as active; the controls pass Alt+Space on
  // to the window menu themselves whenever it reaches them.
  for (const auto& b : buttons) (this->*b.member)->installEventFilter(this);
  m_tree->installEventFilter(this);
  m_list->installEventFilter(this);
}

void CMainDlg::configureButtons() {
  const struct {
    CSkinButton* CMainDlg::*member;
    const char* icon;
    int iconSide;
    const char* tip;
  } looks[] = {
      {&CMainDlg::m_helpButton, res::kIconHelp, kSmallIconSide, "See the help document."},
      {&CMainDlg::m_minimizeButton, res::kIconMinimize, kSmallIconSide, "Minimize the window."},
      {&CMainDlg::m_closeButton, res::kIconClose, kSmallIconSide, "Close the window and exit."},
      {&CMainDlg::m_updateButton, res::kIconUpdate, kSmallIconSide, "Check the server for a new version."},
      {&CMainDlg::m_saveButton, res::kIconSave, kCommandIconSide, "Save the image and close it."},
      {&CMainDlg::m_openImageButton, res::kIconOpenImage, kCommandIconSide, "Open a CD image file."},
      {&CMainDlg::m_makeImageButton, res::kIconMakeImage, kCommandIconSide, "Make a CD image from a folder."},
      {&CMainDlg::m_hideButton, res::kIconHide, kCommandIconSide, kHideTip},
      {&CMainDlg::m_burnButton, res::kIconBurn, kCommandIconSide, "Burn a CD image to a disc."},
  };
  for (const auto& look : looks) {
    CSkinButton* button = this->*look.member;
    button->setButtonIcon(QString::fromLatin1(look.icon), look.iconSide, look.iconSide);
    button->setTipText(QString::fromLatin1(look.tip), true);
    button->useParentBackground(false);
  }
}

void CMainDlg::createWindowMenu() {
  m_windowMenu = new QMenu(this);
  m_windowMenu->setObjectName(QStringLiteral("windowMenu"));
  QAction* restore = m_windowMenu->addAction(tr("&Restore"), this, [this] { showNormal(); });
  restore->setObjectName(QStringLiteral("restore"));
  QAction* move = m_windowMenu->addAction(tr("&Move"), this, [this] {
    if (QWindow* window = windowHandle()) window->startSystemMove();
  });
  move->setObjectName(QStringLiteral("move"));
  m_windowMenu->addAction(tr("Mi&nimize"), this, &CMainDlg::onMinimize)->setObjectName(QStringLiteral("minimize"));
  QAction* maximize = m_windowMenu->addAction(tr("Ma&ximize"), this, [this] { showMaximized(); });
  maximize->setObjectName(QStringLiteral("maximize"));
  m_windowMenu->addSeparator();
  QAction* close = m_windowMenu->addAction(tr("&Close"), this, [this] { this->close(); });
  close->setShortcut(QKeySequence(Qt::ALT | Qt::Key_F4));
  close->setObjectName(QStringLiteral("close"));
  m_windowMenu->addSeparator();
  m_windowMenu->addAction(QString::fromLatin1(kAboutMenuText), this, &CMainDlg::onAbout)
      ->setObjectName(QStringLiteral("about"));
  connect(m_windowMenu, &QMenu::aboutToShow, this, [this, restore, move, maximize] {
    restore->setEnabled(isMinimized() || isMaximized());
    move->setEnabled(!isMinimized() && !isMaximized());
    maximize->setEnabled(!isMaximized());
  });
}

void CMainDlg::setUpTree() {
  m_tree->setColumnCount(1);
  m_tree->setHeaderHidden(true);
  m_tree->setRootIsDecorated(true);
  m_tree->setUniformRowHeights(true);
  m_tree->setIconSize(QSize(kTreeIconSide, kTreeIconSide));
  // One column as wide as its names: a deep or long name scrolls sideways instead of being cut.
  m_tree->header()->setStretchLastSection(false);
  m_tree->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  m_tree->viewport()->installEventFilter(this);
  insertPlaceholder();
}

void CMainDlg::insertPlaceholder() {
  m_rootItem = new QTreeWidgetItem(QStringList(QString::fromLatin1(kNotSelectText)));
  m_rootItem->setIcon(0, m_noneIcon);
  m_rootItem->setData(0, kNodeRole, -1);
  m_tree->addTopLevelItem(m_rootItem);
}

void CMainDlg::setUpList() {
  m_fileTypes = std::make_unique<FileTypes>(m_folderIcon, m_hiddenIcon);
  m_listModel = std::make_unique<FileListModel>(*m_fileTypes);
  m_list->setModel(m_listModel.get());
  connect(m_list->selectionModel(), &QItemSelectionModel::selectionChanged, this, &CMainDlg::scheduleHideButtonUpdate);
  m_list->setShowGrid(true);
  m_list->setSelectionBehavior(QAbstractItemView::SelectRows);
  m_list->setSelectionMode(QAbstractItemView::ExtendedSelection);
  m_list->setEditTriggers(QAbstractItemView::NoEditTriggers);
  m_list->setTabKeyNavigation(false);
  m_list->setWordWrap(false);
  m_list->setIconSize(QSize(FileTypes::kDecorationWidth, FileTypes::kIconSide));
  m_list->verticalHeader()->hide();
  m_list->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  m_list->verticalHeader()->setDefaultSectionSize(qMax(fontMetrics().height(), FileTypes::kIconSide) + 3);
  QHeaderView* header = m_list->horizontalHeader();
  header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  header->setHighlightSections(false);
  header->setStretchLastSection(false);
  for (int column = 0; column < FileListModel::kColumnCount; ++column)
    header->resizeSection(column, FileListModel::kColumnWidths[column]);
}

void CMainDlg::showWorkspace(bool showImage) {
  if (showImage) {
    m_howToPage->hide();
    m_list->show();
    m_tree->show();
  } else {
    m_list->hide();
    m_tree->hide();
    m_howToPage->show();
  }
}

void CMainDlg::releaseWorkspace() {
  clearImage();
  clearFileList();
  clearFolderTree();
}

void CMainDlg::closeEvent(QCloseEvent* e) {
  releaseWorkspace();
  QDialog::closeEvent(e);
}

void CMainDlg::contextMenuEvent(QContextMenuEvent* e) {
  if (childAt(e->pos()) != nullptr) return;
  showWindowMenu(e->globalPos());
}

void CMainDlg::showWindowMenu(const QPoint& globalPos) { m_windowMenu->popup(globalPos); }

void CMainDlg::showWindowMenuFromKeyboard() {
  if (!m_windowMenu->isVisible()) showWindowMenu(mapToGlobal(QPoint(0, 0)));
}

namespace {
bool isWindowMenuKey(const QKeyEvent* e) {
  return e->key() == Qt::Key_Space &&
         ((e->modifiers() | QGuiApplication::queryKeyboardModifiers()) & Qt::AltModifier) != 0;
}
bool isReturnKey(const QKeyEvent* e) { return e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter; }
}  // namespace

bool CMainDlg::eventFilter(QObject* watched, QEvent* e) {
  if (e->type() == QEvent::Resize && watched == m_tree->viewport()) fitTreeColumn();
  if (e->type() == QEvent::KeyPress || e->type() == QEvent::KeyRelease) {
    auto* key = static_cast<QKeyEvent*>(e);
    if (isWindowMenuKey(key)) {
      if (e->type() == QEvent::KeyPress) showWindowMenuFromKeyboard();
      // A button held down by Space before Alt came is let go without a click.
      if (auto* button = qobject_cast<CSkinButton*>(watched); button != nullptr && button->isDown())
        button->setDown(false);
      return true;
    }
  }
  return QDialog::eventFilter(watched, e);
}

void CMainDlg::keyPressEvent(QKeyEvent* e) {
  if (isWindowMenuKey(e)) {
    showWindowMenuFromKeyboard();
    return;
  }
  // No button of this window is a default button: Return in the tree or the list does nothing.
  if (isReturnKey(e)) {
    e->accept();
    return;
  }
  QDialog::keyPressEvent(e);
}

void CMainDlg::onHelp() { CUmbradiscApp::openHelpFile(this); }

void CMainDlg::onMinimize() { showMinimized(); }

void CMainDlg::onClose() {
  releaseWorkspace();
  accept();
}

void CMainDlg::onAbout() {
  CAboutDlg about(this);
  about.exec();
}

}  // namespace umbra

#pragma once
// The main window: a caption-less window painted with the program's skin, its command buttons,
// the instructions page shown while no image is open, and the folder tree and file list over the
// open image. The window only shows what the workspace answers; the image is the workspace's.
// Its members are defined by topic: CMainDlg.cpp makes the controls and handles the window's own
// buttons and keys; MainDlgWorkspace.cpp the image (Open Image, the tree and list, Hide, Save);
// MainDlgCommands.cpp the buttons that hand work to the back ends (Make Image, Burn CD, Update);
// MainDlgFrame.cpp the frame (placement, layout, skin, moving and resizing).
#include <QDialog>
#include <QIcon>
#include <QMessageBox>
#include <QPixmap>
#include <QPoint>
#include <QRect>
#include <QString>
#include <functional>
#include <memory>
#include <vector>

#include "app/FileListView.h"
#include "engine/Workspace.h"

class QFrame;
class QMenu;
class QSizeGrip;
class QTreeWidget;
class QTreeWidgetItem;

namespace umbra {

class CRoundDlg;
class CSkinButton;
class FileListModel;
class FileTypes;

class CMainDlg : public QDialog {
  Q_OBJECT

 public:
  static constexpr const char* kTitle = "Umbradisc";
  static constexpr const char* kNotSelectText = "Not selected";
  static constexpr const char* kAboutMenuText = "&About Umbradisc...";
  static constexpr const char* kOpenFilter = "CD Files (*.iso);;All Files (*.*)";
  static constexpr const char* kDefaultSuffix = "iso";
  static constexpr const char* kOpenReplacedQuestion = "Would you like to open the image that is there now?";
  // The Hide button names what a press does with the selection (Alt and the underlined letter too).
  static constexpr const char* kHideCaption = "&Hide";
  static constexpr const char* kShowCaption = "&Show";
  static constexpr const char* kHideTip = "Hide the selected folders and files.";
  static constexpr const char* kShowTip = "Show the selected hidden folders and files again.";
  static constexpr const char* kNoImageToHideMessage =
      "No image is open: open an image, then select the folders or files to hide.";
  static constexpr const char* kNothingSelectedMessage =
      "Nothing is selected: select the folders or files to hide in the list.";
  static constexpr const char* kHideFilesQuestion = "Hide the selected files?";
  static constexpr const char* kNothingToSaveMessage = "No image is open, so there is nothing to save.";
  static constexpr int kNodeRole = Qt::UserRole;  // tree item -> folder index; -1 = no folder
  // The window's first and smallest size, in dialog units of its font.
  static constexpr int kWidthUnits = 502;
  static constexpr int kHeightUnits = 326;

  // Asks for an image file to open; an empty answer means the user cancelled.
  using FileChooser = std::function<QString(QWidget* parent)>;

  explicit CMainDlg(QWidget* parent = nullptr);
  ~CMainDlg() override;

  // Workspace operations, shared with the commands that open or make images.
  void showWorkspace(bool showImage);
  void releaseWorkspace();
  void clearImage();
  // Opens m_imagePath for work and fills the tree; false when no image could be opened.
  bool loadImagePath();
  void clearFolderTree();
  void clearFileList();
  void refreshButtonBackgrounds(const QPixmap& surface);
  // Burning: available when the burning library starts; burns m_imagePath with progress.
  bool burnCurrentImage();

  // Opens the image at path the way Open Image does once its file dialog has answered; for an image
  // named on the command line or dropped on the window.
  void openImage(const QString& path);
  // A second start's hand-over: the window comes to the front and opens the image, if one was
  // named, once no other dialog of the window is open.
  void receiveHandOver(const QString& path);
  void openPendingImage();

  void setImagePath(const QString& path) { m_imagePath = path; }
  const QString& imagePath() const { return m_imagePath; }
  Workspace& workspace() { return m_workspace; }
  // Replaces the file-open dialog (tests drive the window without a native dialog).
  void setFileChooser(FileChooser chooser) { m_chooseFile = std::move(chooser); }

  QTreeWidget* tree() const { return m_tree; }
  FileListView* list() const { return m_list; }
  FileListModel* listModel() const { return m_listModel.get(); }
  CRoundDlg* howToPage() const { return m_howToPage; }
  QMenu* windowMenu() const { return m_windowMenu; }
  QRect frameRect() const { return m_frame; }

 public slots:
  void onOpenImage();
  void onFolderSelChanged();
  void onHide();
  void onSave();
  void onHelp();
  void onMinimize();
  void onClose();
  void onAbout();
  void onMakeImage();
  void onBurnCD();
  void onCheckUpdate();
  void showWindowMenu(const QPoint& globalPos);

 public:
  void setVisible(bool visible) override;

 protected:
  void paintEvent(QPaintEvent* e) override;
  void resizeEvent(QResizeEvent* e) override;
  void changeEvent(QEvent* e) override;
  void closeEvent(QCloseEvent* e) override;
  void contextMenuEvent(QContextMenuEvent* e) override;
  void keyPressEvent(QKeyEvent* e) override;
  bool eventFilter(QObject* watched, QEvent* e) override;
  void mousePressEvent(QMouseEvent* e) override;
  void mouseMoveEvent(QMouseEvent* e) override;
  void mouseReleaseEvent(QMouseEvent* e) override;
  void leaveEvent(QEvent* e) override;
  void dragEnterEvent(QDragEnterEvent* e) override;
  void dropEvent(QDropEvent* e) override;

  // The five command buttons, the four small buttons.
  CSkinButton* m_makeImageButton = nullptr;
  CSkinButton* m_openImageButton = nullptr;
  CSkinButton* m_hideButton = nullptr;
  CSkinButton* m_saveButton = nullptr;
  CSkinButton* m_burnButton = nullptr;
  CSkinButton* m_updateButton = nullptr;
  CSkinButton* m_helpButton = nullptr;
  CSkinButton* m_minimizeButton = nullptr;
  CSkinButton* m_closeButton = nullptr;

 private:
  void createControls();
  void configureButtons();
  void createWindowMenu();
  void setUpTree();
  void setUpList();
  void insertPlaceholder();
  // Gives a control its place at the window's first size; layOut moves it from there.
  void placeAt(QWidget* widget, const QRect& rect);
  void layOut();
  void composeSkin();
  // The window edges a press at pos on the skin would resize; none away from the edges.
  Qt::Edges edgesAt(const QPoint& pos) const;
  // The folder tree's column as wide as its widest shown name, so a deep tree scrolls sideways.
  void fitTreeColumn();
  void showMessage(QMessageBox::Icon icon, const QString& text);
  // Results and notes carry the information icon, errors and refusals the warning icon.
  void inform(const QString& text);
  void warn(const QString& text);
  // The list's selected rows, in the list's order.
  std::vector<EntryRow*> selectedEntries() const;
  // The Hide button reads Hide or Show as the workspace decides for the selection; off, with the
  // reason in its tool tip, on an image that cannot be written.
  void updateHideButton();
  void scheduleHideButtonUpdate();
  // The rows a press left, grouped by why.
  QString leftRowsText(const SelectionAction& action) const;
  // For an image replaced on disk: asks to open the file there now. False for any other error.
  bool offerReplacedImage(const Error& error);
  // The tool tip of a folder of the tree.
  QString folderToolTip(int node) const;
  // Gives the tree items of a folder's subfolders what its listing knows: the Rock Ridge names
  // (kept in the folder's records only) and the hidden marks, in a file manager's order.
  void markChildren(int folder);
  bool ask(const QString& question);
  // Whether two paths name one file (links and "..", and letter case where the system ignores it).
  static bool sameFile(const QString& a, const QString& b);
  void offerToBurn();
  void centreOnScreen();
  void showWindowMenuFromKeyboard();

  Workspace m_workspace;
  QString m_imagePath;
  FileChooser m_chooseFile;

  QIcon m_icon;
  QIcon m_folderIcon;
  QIcon m_hiddenIcon;
  QIcon m_discIcon;
  QIcon m_noneIcon;
  QPixmap m_bodyPicture;
  QSize m_bodyRenderedFor;
  QPixmap m_bannerPicture;
  QPixmap m_skin;  // the composed background, redrawn when the size or colours change
  bool m_skinDirty = true;
  QRect m_frame;

  CRoundDlg* m_howToPage = nullptr;
  QFrame* m_stcFrame = nullptr;
  QTreeWidget* m_tree = nullptr;
  FileListView* m_list = nullptr;
  QSizeGrip* m_sizeGrip = nullptr;
  struct Place {
    QWidget* widget;
    QRect first;  // at the window's first size
  };
  std::vector<Place> m_places;
  std::unique_ptr<FileTypes> m_fileTypes;
  std::unique_ptr<FileListModel> m_listModel;
  QTreeWidgetItem* m_rootItem = nullptr;
  std::vector<QTreeWidgetItem*> m_treeItems;  // item of each folder of the tree, by folder index
  QMenu* m_windowMenu = nullptr;

  QString m_readOnlyReason;  // why the open image cannot be written; empty when it can
  bool m_hideButtonPending = false;
  bool m_hiddenFileNoticeTold = false;  // the first hide of files in this session asked about readers
  QString m_pendingImage;  // a handed-over image waiting for a dialog of the window to close
  bool m_dragging = false;  // moved by following the pointer, without the window system
  QPoint m_dragOffset;
  Qt::Edges m_resizing;  // the edges followed while the window is resized without the window system
  QRect m_pressGeometry;
  QPoint m_pressPoint;
};

}  // namespace umbra

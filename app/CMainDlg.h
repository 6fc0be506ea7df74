#pragma once
// The main window: a caption-less window painted with the program's skin, its command buttons,
// the instructions page shown while no image is open, and the folder tree and file list over the
// open image. The window only shows what the workspace answers; the image is the workspace's.
#include <QDialog>
#include <QIcon>
#include <QImage>
#include <QPixmap>
#include <QPoint>
#include <QRect>
#include <QString>
#include <functional>
#include <memory>
#include <vector>

#include "engine/Workspace.h"

class QFrame;
class QMenu;
class QTableView;
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
  static constexpr int kNodeRole = Qt::UserRole;  // tree item -> folder index; -1 = no folder

  // Asks for an image file to open; an empty answer means the user cancelled.
  using FileChooser = std::function<QString(QWidget* parent)>;

  explicit CMainDlg(QWidget* parent = nullptr);
  ~CMainDlg() override;

  // Workspace operations, shared with the commands that open or make images.
  void ShowWorkspace(bool showImage);
  void ReleaseWorkspace();
  void ClearImage();
  // Opens m_strImagePath for work and fills the tree; false when no image could be opened.
  bool OpenImageFile();
  void ClearFolderTree();
  void ClearFileList();
  void RefreshButtonBackgrounds(const QPixmap& surface);
  // Burning: available when the burning library starts; burns m_strImagePath with progress.
  bool BurnImage();

  // Opens the image at path the way Open Image does once its file dialog has answered; for an image
  // named on the command line or dropped on the window.
  void OpenImagePath(const QString& path);
  // A second start's hand-over: the window comes to the front and opens the image, if one was
  // named, once no other dialog of the window is open.
  void ReceiveHandOver(const QString& path);
  void OpenPendingImage();

  void SetImagePath(const QString& path) { m_strImagePath = path; }
  const QString& ImagePath() const { return m_strImagePath; }
  Workspace& GetWorkspace() { return m_image; }
  // Replaces the file-open dialog (tests drive the window without a native dialog).
  void SetFileChooser(FileChooser chooser) { m_chooseFile = std::move(chooser); }

  QTreeWidget* Tree() const { return m_tree; }
  QTableView* List() const { return m_list; }
  FileListModel* ListModel() const { return m_listModel.get(); }
  CRoundDlg* HowToPage() const { return m_dlgHowTo; }
  QMenu* WindowMenu() const { return m_windowMenu; }
  QRect FrameRect() const { return m_rcFrame; }

 public slots:
  void OnOpenImage();
  void OnFolderSelChanged();
  void OnHide();
  void OnSave();
  void OnHelp();
  void OnMinimize();
  void OnClose();
  void OnAbout();
  void OnMakeImage();
  void OnBurnCD();
  void OnCheckUpdate();
  void ShowWindowMenu(const QPoint& globalPos);

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
  void dragEnterEvent(QDragEnterEvent* e) override;
  void dropEvent(QDropEvent* e) override;

  // The five command buttons, the four small buttons.
  CSkinButton* m_btnMakeImage = nullptr;
  CSkinButton* m_btnOpenImage = nullptr;
  CSkinButton* m_btnHide = nullptr;
  CSkinButton* m_btnSave = nullptr;
  CSkinButton* m_btnBurn = nullptr;
  CSkinButton* m_btnUpdate = nullptr;
  CSkinButton* m_btnHelp = nullptr;
  CSkinButton* m_btnMinimize = nullptr;
  CSkinButton* m_btnClose = nullptr;

 private:
  void CreateControls();
  void ConfigureButtons();
  void CreateWindowMenu();
  void SetUpTree();
  void SetUpList();
  void InsertPlaceholder();
  void ComposeSkin();
  void Inform(const QString& text);
  // The tool tip of a folder of the tree.
  QString FolderToolTip(int node) const;
  // Gives the tree items of a folder's subfolders what its listing knows: the Rock Ridge names
  // (kept in the folder's records only) and the hidden marks, in a file manager's order.
  void MarkChildren(int folder);
  void FitColumns();
  bool Ask(const QString& question);
  // Whether two paths name one file (links and "..", and letter case where the system ignores it).
  static bool SameFile(const QString& a, const QString& b);
  void OfferToBurn();
  void CentreOnScreen();
  void ShowWindowMenuFromKeyboard();

  Workspace m_image;
  QString m_strImagePath;
  FileChooser m_chooseFile;

  QIcon m_hIcon;
  QIcon m_hIconFolder;
  QIcon m_hIconHidden;
  QIcon m_hIconDisc;
  QIcon m_hIconNone;
  QImage m_bmpBody;
  QImage m_bmpBanner;
  QPixmap m_skin;  // the composed background, redrawn when the size or colours change
  bool m_bSkinDirty = true;
  QRect m_rcFrame;

  CRoundDlg* m_dlgHowTo = nullptr;
  QFrame* m_stcFrame = nullptr;
  QTreeWidget* m_tree = nullptr;
  QTableView* m_list = nullptr;
  std::unique_ptr<FileTypes> m_fileTypes;
  std::unique_ptr<FileListModel> m_listModel;
  QTreeWidgetItem* m_hRootItem = nullptr;
  std::vector<QTreeWidgetItem*> m_arrTreeItems;  // item of each folder of the tree, by folder index
  QMenu* m_windowMenu = nullptr;

  QString m_pendingImage;  // a handed-over image waiting for a dialog of the window to close
  bool m_bDragging = false;
  QPoint m_dragOffset;
};

}  // namespace umbra

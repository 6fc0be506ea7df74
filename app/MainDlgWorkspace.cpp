// The main window's work on an image: open it into the folder tree, list a folder, hide and show
// folders, save. Every decision about the image is the workspace's; this file only shows it.
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QItemSelectionModel>
#include <QMessageBox>
#include <QMimeData>
#include <QStringList>
#include <QTableView>
#include <QTreeWidget>
#include <QUrl>
#include <algorithm>

#include "app/CMainDlg.h"
#include "app/FileListModel.h"

namespace umbra {

namespace {
QString toQString(const std::string& text) { return QString::fromStdString(text); }

// The first local file of a drop; empty when the drop holds none.
QString droppedFile(const QMimeData* data) {
  if (!data || !data->hasUrls()) return {};
  for (const QUrl& url : data->urls()) {
    if (url.isLocalFile()) return url.toLocalFile();
  }
  return {};
}

QString chooseImageFile(QWidget* parent) {
  QFileDialog dialog(parent, QString(), QString(), QString::fromLatin1(CMainDlg::kOpenFilter));
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setFileMode(QFileDialog::AnyFile);  // a typed name need not exist; opening says so
  dialog.setDefaultSuffix(QString::fromLatin1(CMainDlg::kDefaultSuffix));
  if (dialog.exec() != QDialog::Accepted) return {};
  return dialog.selectedFiles().value(0);
}
}  // namespace

void CMainDlg::Inform(const QString& text) {
  QMessageBox::information(this, QString::fromLatin1(kTitle), text);
}

void CMainDlg::OnOpenImage() {
  const QString path = m_chooseFile ? m_chooseFile(this) : chooseImageFile(this);
  if (path.isEmpty()) return;
  OpenImagePath(path);
}

void CMainDlg::OpenImagePath(const QString& path) {
  m_strImagePath = QFileInfo(path).absoluteFilePath();
  ClearImage();
  ShowWorkspace(OpenImageFile());
}

void CMainDlg::dragEnterEvent(QDragEnterEvent* e) {
  if (!droppedFile(e->mimeData()).isEmpty()) e->acceptProposedAction();
}

void CMainDlg::dropEvent(QDropEvent* e) {
  const QString path = droppedFile(e->mimeData());
  if (path.isEmpty()) return;
  e->acceptProposedAction();
  OpenImagePath(path);
}

void CMainDlg::ClearImage() {
  m_image.close();
  m_arrTreeItems.clear();
}

bool CMainDlg::OpenImageFile() {
#ifdef _WIN32
  // The engine takes UTF-8 paths on Windows; encodeName would give the ANSI code page there.
  const Error error = m_image.open(m_strImagePath.toUtf8().toStdString(), OpenMode::Work);
#else
  const Error error = m_image.open(QFile::encodeName(m_strImagePath).toStdString(), OpenMode::Work);
#endif
  ClearFileList();
  ClearFolderTree();
  if (error && error.kind != ErrorKind::UnknownFormat) {
    InsertPlaceholder();
    Inform(toQString(error.message()));
    return false;
  }

  m_hRootItem = new QTreeWidgetItem(QStringList(QString::fromLatin1(m_image.volumeIdentifier())));
  m_hRootItem->setIcon(0, m_hIconDisc);
  m_hRootItem->setData(0, kNodeRole, -1);
  // Items are built apart from the view and handed over at once: one insertion, not one per folder.
  const std::vector<CFolderNode>& nodes = m_image.folders().nodes();
  m_arrTreeItems.assign(nodes.size(), nullptr);
  bool rootPending = true;
  for (size_t i = 0; i < nodes.size(); ++i) {
    const CFolderNode& node = nodes[i];
    if (node.parent < 0) {
      if (rootPending) {
        m_hRootItem->setData(0, kNodeRole, static_cast<int>(i));
        m_arrTreeItems[i] = m_hRootItem;
        rootPending = false;
      }
      continue;
    }
    const size_t parent = static_cast<size_t>(node.parent);
    QTreeWidgetItem* parentItem = parent < i && m_arrTreeItems[parent] ? m_arrTreeItems[parent] : m_hRootItem;
    // A folder found only in another tree (no proven twin in the ISO 9660 tree) shows its name there.
    const QString name = node.places.front().tree == 0
                             ? QString::fromLatin1(node.name.data(), static_cast<qsizetype>(node.name.size()))
                             : QString::fromStdString(node.name);
    auto* item = new QTreeWidgetItem(QStringList(name));
    item->setIcon(0, m_hIconFolder);
    item->setData(0, kNodeRole, static_cast<int>(i));
    parentItem->addChild(item);
    m_arrTreeItems[i] = item;
  }
  m_tree->addTopLevelItem(m_hRootItem);
  if (error) Inform(QString::fromLatin1(kUnknownFormatMessage));  // the tree keeps what was built
  for (const std::string& notice : m_image.notices()) Inform(toQString(notice));
  return true;
}

void CMainDlg::ClearFolderTree() {
  m_tree->clear();
  m_hRootItem = nullptr;
  m_arrTreeItems.clear();
}

void CMainDlg::OnFolderSelChanged() {
  const QList<QTreeWidgetItem*> selected = m_tree->selectedItems();
  if (selected.isEmpty()) return;
  ClearFileList();
  const int folder = selected.first()->data(0, kNodeRole).toInt();
  if (folder < 0 || !m_image.isOpen()) return;  // the placeholder, or a volume without root
  FolderListing listing;
  if (const Error error = m_image.listFolder(folder, listing)) {
    Inform(toQString(error.message()));
    return;
  }
  m_listModel->SetListing(std::move(listing), TreeLabels());
}

void CMainDlg::ClearFileList() { m_listModel->Clear(); }

void CMainDlg::OnHide() {
  QModelIndexList selected = m_list->selectionModel()->selectedRows();
  if (selected.isEmpty() || !m_image.isOpen()) return;
  std::sort(selected.begin(), selected.end(),
            [](const QModelIndex& a, const QModelIndex& b) { return a.row() < b.row(); });
  std::vector<EntryRow*> rows;
  rows.reserve(static_cast<size_t>(selected.size()));
  for (const QModelIndex& index : selected) rows.push_back(m_listModel->Row(index.row()));

  const ToggleOutcome outcome = m_image.toggle(rows);
  m_listModel->RowsChanged();  // the rows now hold what is on disk
  if (outcome.error.kind == ErrorKind::Replaced) {
    // The rows show a file that is gone or changed: offer the one that has the name now.
    if (Ask(toQString(outcome.error.message()) + QStringLiteral("\n\n") + QString::fromLatin1(kOpenReplacedQuestion)))
      OpenImagePath(m_strImagePath);
  } else if (outcome.error) {
    Inform(outcome.error.kind == ErrorKind::NotAFolder ? QString::fromLatin1(kCannotHideFilesMessage)
                                                       : toQString(outcome.error.message()));
  }
}

QStringList CMainDlg::TreeLabels() const {
  QStringList labels;
  for (int tree = 0; tree < m_image.trees().count(); ++tree)
    labels << QString::fromLatin1(m_image.trees().label(tree));
  return labels;
}

QString CMainDlg::FolderToolTip(int node) const {
  if (!m_image.isOpen() || node < 0 || static_cast<size_t>(node) >= m_image.folders().size()) return {};
  EntryRow row;
  if (node == 0 || m_image.folderRow(node, row)) {
    // The root has no record of its own; show its trees.
    QStringList lines;
    for (const FolderPlace& place : m_image.folders().node(node).places)
      lines << QString::fromLatin1(m_image.trees().label(place.tree));
    return lines.join(QLatin1Char('\n'));
  }
  return EntryToolTip(row, TreeLabels());
}

void CMainDlg::OnSave() {
  if (!m_image.isOpen()) return;  // nothing to close
  // Every change is already in the file; saving closes it.
  m_image.close();
  ClearFileList();
  ClearFolderTree();
  OfferToBurn();
}

}  // namespace umbra

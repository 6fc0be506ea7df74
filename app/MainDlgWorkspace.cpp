// The main window's work on an image: open it into the folder tree, list a folder, hide and show
// folders and files, save (the Open Image, Hide and Save buttons). Every decision about the image is the workspace's;
// this file only shows it.
#include <QApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QMessageBox>
#include <QMimeData>
#include <QProgressDialog>
#include <QStringList>
#include <QTableView>
#include <QTimer>
#include <QTreeWidget>
#include <QUrl>
#include <algorithm>
#include <memory>
#include <utility>

#include "app/CMainDlg.h"
#include "app/DisplayNames.h"
#include "app/FileListModel.h"
#include "app/FileListView.h"
#include "controls/CSkinButton.h"
#include "controls/TitleRoom.h"

namespace umbra {

namespace {
QString toQString(const std::string& text) { return QString::fromStdString(text); }

// From this many selected rows on, Hide shows its progress and can be cancelled.
constexpr size_t kRowsWithProgress = 20;

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

void CMainDlg::showMessage(QMessageBox::Icon icon, const QString& text) {
  QMessageBox box(icon, QString::fromLatin1(kTitle), text, QMessageBox::Ok, this);
  makeRoomForTitle(box);
  box.exec();
}

void CMainDlg::inform(const QString& text) { showMessage(QMessageBox::Information, text); }

void CMainDlg::warn(const QString& text) { showMessage(QMessageBox::Warning, text); }

void CMainDlg::onOpenImage() {
  const QString path = m_chooseFile ? m_chooseFile(this) : chooseImageFile(this);
  if (path.isEmpty()) return;
  openImage(path);
}

void CMainDlg::openImage(const QString& path) {
  m_imagePath = QFileInfo(path).absoluteFilePath();
  clearImage();
  showWorkspace(loadImagePath());
}

void CMainDlg::receiveHandOver(const QString& path) {
  if (isMinimized()) showNormal();
  QWidget* front = QApplication::activeModalWidget();
  if (front == nullptr) front = this;
  front->raise();
  front->activateWindow();
  if (path.isEmpty()) return;
  const bool waiting = !m_pendingImage.isEmpty();
  m_pendingImage = path;  // the latest start's image wins
  if (waiting) return;
  QTimer::singleShot(0, this, &CMainDlg::openPendingImage);
}

void CMainDlg::openPendingImage() {
  // Opened from the event loop, never inside another dialog's run: Make Image may be replacing it.
  QWidget* modal = QApplication::activeModalWidget();
  if (modal != nullptr && modal != this) {
    QTimer::singleShot(250, this, &CMainDlg::openPendingImage);
    return;
  }
  if (!m_pendingImage.isEmpty()) openImage(std::exchange(m_pendingImage, QString()));
}

void CMainDlg::dragEnterEvent(QDragEnterEvent* e) {
  if (!droppedFile(e->mimeData()).isEmpty()) e->acceptProposedAction();
}

void CMainDlg::dropEvent(QDropEvent* e) {
  const QString path = droppedFile(e->mimeData());
  if (path.isEmpty()) return;
  e->acceptProposedAction();
  openImage(path);
}

void CMainDlg::clearImage() {
  m_workspace.close();
  m_treeItems.clear();
  m_readOnlyReason.clear();
  updateHideButton();
}

bool CMainDlg::loadImagePath() {
#ifdef _WIN32
  // The engine takes UTF-8 paths on Windows; encodeName would give the ANSI code page there.
  const std::string path = m_imagePath.toUtf8().toStdString();
#else
  const std::string path = QFile::encodeName(m_imagePath).toStdString();
#endif
  // Opening writes nothing: the stamp waits for the first Hide. An image that cannot be written
  // (a read-only file or medium) opens for browsing, with Hide turned off.
  Error error = m_workspace.open(path, OpenMode::WorkUnstamped);
  m_readOnlyReason.clear();
  if (error.kind == ErrorKind::ReadOnly || error.kind == ErrorKind::NoPermission) {
    m_readOnlyReason = toQString(error.reason);
    error = m_workspace.open(path, OpenMode::ReadOnly);
    if (error && !isFormatError(error.kind)) m_readOnlyReason.clear();
  }
  clearFileList();
  clearFolderTree();
  updateHideButton();
  if (error && !isFormatError(error.kind)) {
    insertPlaceholder();
    warn(toQString(error.message()));
    return false;
  }

  m_rootItem = new QTreeWidgetItem(QStringList(QString::fromLatin1(m_workspace.volumeIdentifier())));
  m_rootItem->setIcon(0, m_discIcon);
  m_rootItem->setData(0, kNodeRole, -1);
  // Items are built apart from the view and handed over at once: one insertion, not one per folder.
  // Each folder shows the name a file manager would show, its brothers in a file manager's order.
  const FolderTree& folders = m_workspace.folders();
  const std::vector<CFolderNode>& nodes = folders.nodes();
  m_treeItems.assign(nodes.size(), nullptr);
  std::vector<QString> names(nodes.size());
  std::vector<std::vector<int>> childrenOf(nodes.size() + 1);  // the last: the volume item's extra children
  bool rootPending = true;
  for (size_t i = 0; i < nodes.size(); ++i) {
    const CFolderNode& node = nodes[i];
    if (node.parent < 0) {
      if (rootPending) {
        m_rootItem->setData(0, kNodeRole, static_cast<int>(i));
        m_treeItems[i] = m_rootItem;
        rootPending = false;
      }
      continue;
    }
    names[i] = namesOf(folders, static_cast<int>(i)).shown();
    auto* item = new QTreeWidgetItem(QStringList(names[i]));
    item->setIcon(0, m_folderIcon);
    item->setData(0, kNodeRole, static_cast<int>(i));
    m_treeItems[i] = item;
    const size_t parent = static_cast<size_t>(node.parent);
    childrenOf[parent < i && m_treeItems[parent] ? parent : nodes.size()].push_back(static_cast<int>(i));
  }
  const NameOrder order;
  for (size_t parent = 0; parent <= nodes.size(); ++parent) {
    std::vector<int>& children = childrenOf[parent];
    if (children.empty()) continue;
    std::stable_sort(children.begin(), children.end(), [&](int a, int b) {
      return order.less(true, names[static_cast<size_t>(a)], true, names[static_cast<size_t>(b)]);
    });
    QList<QTreeWidgetItem*> items;
    for (int child : children) items << m_treeItems[static_cast<size_t>(child)];
    (parent < nodes.size() ? m_treeItems[parent] : m_rootItem)->addChildren(items);
  }
  m_tree->addTopLevelItem(m_rootItem);
  fitTreeColumn();
  if (!folders.empty()) markChildren(0);  // the first level as the listing sees it: names, hidden marks
  if (error) warn(QString::fromLatin1(kUnknownFormatMessage));  // the tree keeps what was built
  if (!m_readOnlyReason.isEmpty())
    inform(QStringLiteral("This image opens for browsing only; Hide is turned off: ") + m_readOnlyReason);
  for (const std::string& notice : m_workspace.notices()) inform(toQString(notice));
  return true;
}

void CMainDlg::clearFolderTree() {
  m_tree->clear();
  m_rootItem = nullptr;
  m_treeItems.clear();
}

void CMainDlg::onFolderSelChanged() {
  const QList<QTreeWidgetItem*> selected = m_tree->selectedItems();
  if (selected.isEmpty()) return;
  clearFileList();
  const int folder = selected.first()->data(0, kNodeRole).toInt();
  if (folder < 0 || !m_workspace.isOpen()) return;  // the placeholder, or a volume without root
  FolderListing listing;
  if (const Error error = m_workspace.listFolder(folder, listing)) {
    warn(toQString(error.message()));
    return;
  }
  m_listModel->setListing(std::move(listing), &m_workspace.trees());
  scheduleHideButtonUpdate();
  m_list->fitColumns();
  m_list->scrollToStart();  // each folder starts at its first row and its names
  markChildren(folder);
}

void CMainDlg::markChildren(int folder) {
  if (!m_workspace.isOpen() || folder < 0 || static_cast<size_t>(folder) >= m_treeItems.size()) return;
  FolderListing own;
  const FolderListing* listing = nullptr;
  if (m_listModel->folderIndex() == folder) {
    listing = &m_listModel->listing();
  } else {
    if (m_workspace.listFolder(folder, own) && own.rows.empty()) return;  // the list says why when it is opened
    listing = &own;
  }
  QTreeWidgetItem* parent = m_treeItems[static_cast<size_t>(folder)];
  bool renamed = false;
  for (const EntryRow& row : listing->rows) {
    if (!row.isFolder || row.folderIndex < 0 || static_cast<size_t>(row.folderIndex) >= m_treeItems.size()) continue;
    QTreeWidgetItem* item = m_treeItems[static_cast<size_t>(row.folderIndex)];
    if (!item || item == m_rootItem) continue;
    // A Rock Ridge name is found in the parent's records only, so it comes with the parent's listing.
    const QString name =
        namesOf(m_workspace.folders(), row.folderIndex, namesOf(row, m_workspace.trees()).rockRidge).shown();
    if (item->text(0) != name) {
      item->setText(0, name);
      renamed = true;
    }
    item->setIcon(0, row.state == FolderState::Normal ? m_folderIcon : m_hiddenIcon);
  }
  if (!renamed || parent == nullptr) return;
  fitTreeColumn();
  const NameOrder order;
  QList<QTreeWidgetItem*> children = parent->takeChildren();
  std::stable_sort(children.begin(), children.end(), [&](const QTreeWidgetItem* a, const QTreeWidgetItem* b) {
    return order.less(true, a->text(0), true, b->text(0));
  });
  parent->addChildren(children);
}

void CMainDlg::fitTreeColumn() {
  // The widest name among the rows the tree shows, or the tree's own width when they all fit.
  m_tree->resizeColumnToContents(0);
  m_tree->header()->resizeSection(0, qMax(m_tree->header()->sectionSize(0), m_tree->viewport()->width()));
}

void CMainDlg::clearFileList() {
  m_listModel->clear();
  scheduleHideButtonUpdate();
}

std::vector<EntryRow*> CMainDlg::selectedEntries() const {
  QModelIndexList selected = m_list->selectionModel()->selectedRows();
  std::sort(selected.begin(), selected.end(),
            [](const QModelIndex& a, const QModelIndex& b) { return a.row() < b.row(); });
  std::vector<EntryRow*> rows;
  rows.reserve(static_cast<size_t>(selected.size()));
  for (const QModelIndex& index : selected) rows.push_back(m_listModel->entryAt(index.row()));
  return rows;
}

void CMainDlg::updateHideButton() {
  m_hideButtonPending = false;
  if (!m_readOnlyReason.isEmpty()) {
    m_hideButton->setText(QString::fromLatin1(kHideCaption));
    m_hideButton->setEnabled(false);
    m_hideButton->setTipText(QStringLiteral("This image cannot be written, so Hide is off: ") + m_readOnlyReason, true);
    return;
  }
  m_hideButton->setEnabled(true);
  // The workspace says what a press would do with this selection; the button says the same.
  const std::vector<EntryRow*> rows = m_workspace.isOpen() ? selectedEntries() : std::vector<EntryRow*>();
  const bool hide = m_workspace.selectionHides(rows);
  m_hideButton->setText(QString::fromLatin1(hide ? kHideCaption : kShowCaption));
  m_hideButton->setTipText(QString::fromLatin1(hide ? kHideTip : kShowTip), true);
}

void CMainDlg::scheduleHideButtonUpdate() {
  // A selection made row by row changes many times in one go: the button is set once afterwards.
  if (m_hideButtonPending) return;
  m_hideButtonPending = true;
  QTimer::singleShot(0, this, &CMainDlg::updateHideButton);
}

QString CMainDlg::leftRowsText(const SelectionAction& action) const {
  // Rows with the same reason are named together.
  constexpr int kNamesShown = 10;
  std::vector<std::pair<QString, QStringList>> groups;
  for (const SelectionAction::Left& left : action.left) {
    const QString why = toQString(left.why.reason);
    auto group = std::find_if(groups.begin(), groups.end(), [&](const auto& g) { return g.first == why; });
    if (group == groups.end()) group = groups.insert(groups.end(), {why, {}});
    group->second << m_listModel->names(m_listModel->rowOf(left.row)).shown();
  }
  QStringList parts;
  parts << (action.hide ? QStringLiteral("These could not be hidden and were left as they were:")
                        : QStringLiteral("These could not be shown and were left as they were:"));
  for (const auto& [why, names] : groups) {
    QString list = names.mid(0, kNamesShown).join(QStringLiteral(", "));
    if (names.size() > kNamesShown) list += QStringLiteral(" and %1 more").arg(names.size() - kNamesShown);
    parts << list + QStringLiteral(": ") + why;
  }
  return parts.join(QStringLiteral("\n\n"));
}

bool CMainDlg::offerReplacedImage(const Error& error) {
  if (error.kind != ErrorKind::Replaced) return false;
  // The rows show a file that is gone or changed: offer the one that has the name now.
  if (ask(toQString(error.message()) + QStringLiteral("\n\n") + QString::fromLatin1(kOpenReplacedQuestion)))
    openImage(m_imagePath);
  return true;
}

void CMainDlg::onHide() {
  if (!m_workspace.isOpen()) {
    inform(QString::fromLatin1(kNoImageToHideMessage));
    return;
  }
  const std::vector<EntryRow*> rows = selectedEntries();
  if (rows.empty()) {
    inform(QString::fromLatin1(kNothingSelectedMessage));
    return;
  }
  // Judging many folders takes a moment before the progress can show.
  QApplication::setOverrideCursor(Qt::WaitCursor);
  const SelectionAction action = m_workspace.planSelection(rows);
  QApplication::restoreOverrideCursor();
  for (const SelectionAction::Left& left : action.left)
    if (offerReplacedImage(left.why)) return;
  // Readers treat hidden files apart from hidden folders: the first hide of files in a session
  // says how, and goes on only when the user wants it.
  const bool hidesFiles = action.hide && std::any_of(action.rows.begin(), action.rows.end(),
                                                     [](const EntryRow* row) { return !row->isFolder; });
  if (hidesFiles && !m_hiddenFileNoticeTold) {
    if (!ask(QString::fromLatin1(kHiddenFileReachNotice) + QStringLiteral("\n\n") +
             QString::fromLatin1(kHideFilesQuestion)))
      return;
    m_hiddenFileNoticeTold = true;
  }

  // Many folders get a progress dialog whose Cancel stops between two folders; what was written
  // stays written and the rows show it.
  std::unique_ptr<QProgressDialog> progress;
  WriteProgress between;
  if (action.rows.size() >= kRowsWithProgress) {
    progress = std::make_unique<QProgressDialog>(
        action.hide ? QStringLiteral("Hiding the selection...") : QStringLiteral("Showing the selection..."),
        QStringLiteral("Cancel"), 0, static_cast<int>(action.rows.size()), this);
    progress->setWindowTitle(QString::fromLatin1(kTitle));
    progress->setWindowModality(Qt::WindowModal);
    progress->setMinimumDuration(0);
    progress->setAutoClose(false);
    progress->setAutoReset(false);
    between = [&progress](size_t done) {
      progress->setValue(static_cast<int>(done));  // a window-modal dialog handles its events here
      return !progress->wasCanceled();
    };
  }
  WriteOutcome outcome;
  if (!action.rows.empty()) outcome = m_workspace.setHidden(action.rows, action.hide, between);
  progress.reset();
  m_listModel->rowsChanged();  // the rows now hold what is on disk
  markChildren(m_listModel->folderIndex());
  updateHideButton();
  if (offerReplacedImage(outcome.error)) return;
  if (outcome.error)
    warn(toQString(outcome.error.message()));
  else if (!action.left.empty())
    warn(leftRowsText(action));
}

QString CMainDlg::folderToolTip(int node) const {
  if (!m_workspace.isOpen() || node < 0 || static_cast<size_t>(node) >= m_workspace.folders().size()) return {};
  EntryRow row;
  if (node == 0 || m_workspace.folderRow(node, row)) {
    // The root has no record of its own; show its trees.
    QStringList lines;
    for (const FolderPlace& place : m_workspace.folders().node(node).places)
      lines << QString::fromLatin1(m_workspace.trees().label(place.tree));
    return lines.join(QLatin1Char('\n'));
  }
  return entryToolTip(row, m_workspace.trees());
}

void CMainDlg::onSave() {
  if (!m_workspace.isOpen()) {
    inform(QString::fromLatin1(kNothingToSaveMessage));
    return;
  }
  // Every change is already in the file; saving closes it.
  m_workspace.close();
  clearFileList();
  clearFolderTree();
  showWorkspace(false);  // no image is open any more
  offerToBurn();
}

}  // namespace umbra

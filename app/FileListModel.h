#pragma once
// The rows of the listed folder as the file list shows them. The rows themselves are the
// workspace's; type names and icons are looked up when a row is first shown.
#include <QAbstractTableModel>
#include <QStringList>
#include <vector>

#include "app/DisplayNames.h"
#include "app/FileTypes.h"
#include "engine/Workspace.h"

namespace umbra {
// "ISO 9660: PROJECT0", "Rock Ridge: ...", "Joliet: Project Files 2025", ..., then the exact size
// in bytes, the state and where the record stands in its folder: the entry's name in every tree it
// has a record in, and what the columns round or leave out. position < 0 leaves that line out.
QString entryToolTip(const EntryRow& row, const ImageTrees& trees, int position = -1);
// A size as Explorer writes it: whole KB of 1,024 bytes, rounded up, with the locale's separators.
QString sizeText(uint64_t bytes);
}  // namespace umbra

namespace umbra {

class FileListModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  enum Column { kName, kProperty, kSize, kType, kModifyTime, kColumnCount };
  static constexpr int kColumnWidths[kColumnCount] = {110, 55, 60, 60, 85};

  FileListModel(FileTypes& types, QObject* parent = nullptr);

  // Shows the rows sorted as a file manager sorts them; trees (the open image's) give the names.
  void setListing(FolderListing listing, const ImageTrees* trees = nullptr);
  void clear();
  int folderIndex() const { return m_listing.folderIndex; }
  const FolderListing& listing() const { return m_listing; }
  EntryRow* entryAt(int row) { return &m_listing.rows[static_cast<size_t>(row)]; }
  const EntryRow& entryAt(int row) const { return m_listing.rows[static_cast<size_t>(row)]; }
  // The row number of an entry of this listing.
  int rowOf(const EntryRow* entry) const { return static_cast<int>(entry - m_listing.rows.data()); }
  // The name the row shows, and the row's names in every tree.
  const EntryNames& names(int row) const { return m_names[static_cast<size_t>(row)]; }
  // The rows' states changed (a hide or show): redraw them.
  void rowsChanged();

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

 private:
  int typeOfRow(int row) const;

  FileTypes& m_types;
  FolderListing m_listing;
  const ImageTrees* m_trees = nullptr;
  std::vector<EntryNames> m_names;  // by row
  std::vector<int> m_positions;     // by row: where its record stands in the folder
  mutable std::vector<int> m_rowTypes;  // -1 until the row is first shown
};

}  // namespace umbra

#pragma once
// The rows of the listed folder as the file list shows them. The rows themselves are the
// workspace's; type names and icons are looked up when a row is first shown.
#include <QAbstractTableModel>
#include <QStringList>
#include <vector>

#include "app/FileTypes.h"
#include "engine/Workspace.h"

namespace umbra {
// "ISO 9660: PROJECT0", "Joliet: Project Files 2025", ..., then "State: Hidden": the entry's name in
// every tree it has a record in, and its state.
QString EntryToolTip(const EntryRow& row, const QStringList& treeLabels);
// The row's name as the list shows it.
QString RowName(const EntryRow& row);
}  // namespace umbra

namespace umbra {

class FileListModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  enum Column { kName, kProperty, kSize, kType, kModifyTime, kColumnCount };
  static constexpr int kColumnWidths[kColumnCount] = {110, 55, 60, 60, 85};

  FileListModel(FileTypes& types, QObject* parent = nullptr);

  // treeLabels: the name of each tree of the image ("ISO 9660", "Joliet", ...), for the tool tips.
  void SetListing(FolderListing listing, QStringList treeLabels = {});
  void Clear();
  int FolderIndex() const { return m_listing.folderIndex; }
  EntryRow* Row(int row) { return &m_listing.rows[static_cast<size_t>(row)]; }
  const EntryRow& Row(int row) const { return m_listing.rows[static_cast<size_t>(row)]; }
  // The rows' states changed (a hide or show): redraw them.
  void RowsChanged();

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

 private:
  int TypeOfRow(int row) const;

  FileTypes& m_types;
  FolderListing m_listing;
  QStringList m_treeLabels;
  mutable std::vector<int> m_rowTypes;  // -1 until the row is first shown
};

}  // namespace umbra

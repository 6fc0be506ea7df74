#include "app/FileListModel.h"

namespace umbra {

namespace {
constexpr const char* kHeadings[FileListModel::kColumnCount] = {"Name", "Property", "Size", "Type",
                                                                "Modify Time"};
}

QString RowName(const EntryRow& row) {
  // ISO 9660 identifiers are shown byte for byte; names from other trees are UTF-8.
  if (row.records.empty() || row.records.front().tree == 0)
    return QString::fromLatin1(row.name.data(), static_cast<qsizetype>(row.name.size()));
  return QString::fromStdString(row.name);
}

QString EntryToolTip(const EntryRow& row, const QStringList& treeLabels) {
  QStringList lines;
  int lastTree = -1;
  for (const EntryRecord& record : row.records) {
    if (record.tree == lastTree) continue;  // a second copy of the same record
    lastTree = record.tree;
    const QString label = record.tree < treeLabels.size() ? treeLabels[record.tree] : QString::number(record.tree);
    const QString name = record.tree == 0 ? QString::fromLatin1(record.name.data(), static_cast<qsizetype>(record.name.size()))
                                          : QString::fromStdString(record.name);
    lines << QStringLiteral("%1: %2").arg(label, name);
  }
  lines << QStringLiteral("State: %1").arg(QString::fromLatin1(row.property()));
  return lines.join(QLatin1Char('\n'));
}

FileListModel::FileListModel(FileTypes& types, QObject* parent) : QAbstractTableModel(parent), m_types(types) {}

void FileListModel::SetListing(FolderListing listing, QStringList treeLabels) {
  beginResetModel();
  m_listing = std::move(listing);
  m_treeLabels = std::move(treeLabels);
  m_rowTypes.assign(m_listing.rows.size(), -1);
  endResetModel();
}

void FileListModel::Clear() { SetListing(FolderListing{}); }

void FileListModel::RowsChanged() {
  if (m_listing.rows.empty()) return;
  emit dataChanged(index(0, 0), index(rowCount() - 1, kColumnCount - 1));
}

int FileListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(m_listing.rows.size());
}

int FileListModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : kColumnCount; }

int FileListModel::TypeOfRow(int row) const {
  int& type = m_rowTypes[static_cast<size_t>(row)];
  if (type < 0) type = m_types.TypeOf(Row(row));
  return type;
}

QVariant FileListModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= rowCount()) return {};
  const EntryRow& row = Row(index.row());
  switch (role) {
    case Qt::DisplayRole:
      switch (index.column()) {
        case kName: return RowName(row);
        case kProperty: return QString::fromLatin1(row.property());
        case kSize: return QString::fromStdString(row.sizeText());
        case kType: return m_types.Name(TypeOfRow(index.row()));
        case kModifyTime: return QString::fromStdString(row.modifiedText());
        default: return {};
      }
    case Qt::DecorationRole:
      // The padlock marks a folder hidden in any tree; "Partly hidden" says which of the two it is.
      if (index.column() == kName) return m_types.Decoration(TypeOfRow(index.row()), row.state != FolderState::Normal);
      return {};
    case Qt::ToolTipRole: return EntryToolTip(row, m_treeLabels);
    case Qt::TextAlignmentRole: return int(Qt::AlignCenter);
    default: return {};
  }
}

QVariant FileListModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || section < 0 || section >= kColumnCount) return {};
  if (role == Qt::DisplayRole) return QString::fromLatin1(kHeadings[section]);
  if (role == Qt::TextAlignmentRole) return int(Qt::AlignCenter);
  return {};
}

}  // namespace umbra

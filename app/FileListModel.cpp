#include "app/FileListModel.h"

#include <QLocale>
#include <algorithm>

#include "views/EntryText.h"

namespace umbra {

namespace {
constexpr const char* kHeadings[FileListModel::kColumnCount] = {"Name", "Property", "Size", "Type",
                                                                "Modify Time"};
}

QString sizeText(uint64_t bytes) {
  const uint64_t kilobytes = bytes / 1024 + (bytes % 1024 != 0 ? 1 : 0);
  return QLocale().toString(static_cast<qulonglong>(kilobytes)) + QStringLiteral(" KB");
}

QString entryToolTip(const EntryRow& row, const ImageTrees& trees, int position) {
  QStringList lines;
  int lastTree = -1;
  for (const EntryRecord& record : row.records) {
    if (record.tree == lastTree) continue;  // a second copy of the same record
    lastTree = record.tree;
    const QString label = record.tree < trees.count() ? QString::fromLatin1(trees.label(record.tree))
                                                      : QString::number(record.tree);
    lines << QStringLiteral("%1: %2").arg(label, treeNameText(trees, record.tree, record.name));
    if (!record.rockRidgeName.empty())
      lines << QStringLiteral("Rock Ridge: %1").arg(QString::fromStdString(record.rockRidgeName));
  }
  if (!row.isFolder) lines << QStringLiteral("Size: %1 bytes").arg(QLocale().toString(static_cast<qulonglong>(row.size)));
  lines << QStringLiteral("State: %1").arg(QString::fromLatin1(stateText(row.state)));
  if (position >= 0) lines << QStringLiteral("Record %1 of the folder").arg(position + 1);
  return lines.join(QLatin1Char('\n'));
}

FileListModel::FileListModel(FileTypes& types, QObject* parent) : QAbstractTableModel(parent), m_types(types) {}

void FileListModel::setListing(FolderListing listing, const ImageTrees* trees) {
  beginResetModel();
  m_trees = trees;
  const size_t count = listing.rows.size();
  std::vector<EntryNames> names(count);
  std::vector<QString> shown(count);
  std::vector<int> order(count);
  for (size_t i = 0; i < count; ++i) {
    if (trees)
      names[i] = namesOf(listing.rows[i], *trees);
    else names[i].iso = QString::fromStdString(listing.rows[i].name);
    shown[i] = names[i].shown();
    order[i] = static_cast<int>(i);
  }
  const NameOrder nameOrder;  // the locale of the moment
  std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
    const auto x = static_cast<size_t>(a), y = static_cast<size_t>(b);
    return nameOrder.less(listing.rows[x].isFolder, shown[x], listing.rows[y].isFolder, shown[y]);
  });
  m_listing.folderIndex = listing.folderIndex;
  m_listing.rows.clear();
  m_names.clear();
  m_positions = order;
  for (int i : order) {
    m_listing.rows.push_back(std::move(listing.rows[static_cast<size_t>(i)]));
    m_names.push_back(std::move(names[static_cast<size_t>(i)]));
  }
  m_rowTypes.assign(m_listing.rows.size(), -1);
  endResetModel();
}

void FileListModel::clear() { setListing(FolderListing{}); }

void FileListModel::rowsChanged() {
  if (m_listing.rows.empty()) return;
  emit dataChanged(index(0, 0), index(rowCount() - 1, kColumnCount - 1));
}

int FileListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(m_listing.rows.size());
}

int FileListModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : kColumnCount; }

int FileListModel::typeOfRow(int row) const {
  int& type = m_rowTypes[static_cast<size_t>(row)];
  if (type < 0) type = m_types.typeOf(entryAt(row));
  return type;
}

QVariant FileListModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= rowCount()) return {};
  const EntryRow& row = entryAt(index.row());
  switch (role) {
    case Qt::DisplayRole:
      switch (index.column()) {
        case kName:
          return names(index.row()).shown();
        case kProperty: return QString::fromLatin1(stateText(row.state));
        case kSize:
          return row.isFolder ? QString() : sizeText(row.size);  // Explorer leaves folders blank
        case kType:
          return m_types.name(typeOfRow(index.row()));
        case kModifyTime: return QString::fromStdString(modifiedText(row.date));
        default: return {};
      }
    case Qt::DecorationRole:
      // The padlock marks a folder hidden in any tree; "Partly hidden" says which of the two it is.
      if (index.column() == kName) return m_types.decoration(typeOfRow(index.row()), row.state != FolderState::Normal);
      return {};
    case Qt::ToolTipRole:
      return m_trees ? entryToolTip(row, *m_trees, m_positions[static_cast<size_t>(index.row())]) : QVariant();
    case Qt::TextAlignmentRole:
      return int((index.column() == kSize ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter);
    default: return {};
  }
}

QVariant FileListModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || section < 0 || section >= kColumnCount) return {};
  if (role == Qt::DisplayRole) return QString::fromLatin1(kHeadings[section]);
  if (role == Qt::TextAlignmentRole)
    return int((section == kSize ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter);
  return {};
}

}  // namespace umbra

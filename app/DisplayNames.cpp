#include "app/DisplayNames.h"

#include <QLocale>
#include <cstring>

#include "app/FileTypes.h"

namespace umbra {

namespace {
bool isKind(const ImageTrees& trees, int tree, const char* id) { return std::strcmp(trees.reader(tree).kind().id, id) == 0; }
}  // namespace

QString EntryNames::shown() const {
  if (!udf.isEmpty()) return udf;
  if (!rockRidge.isEmpty()) return rockRidge;
  if (!joliet.isEmpty()) return joliet;
  return FileTypes::plainName(iso.toLatin1().toStdString());
}

QString treeNameText(const ImageTrees& trees, int tree, const std::string& name) {
  if (isKind(trees, tree, "iso9660")) return QString::fromLatin1(name.data(), static_cast<qsizetype>(name.size()));
  return QString::fromStdString(name);
}

EntryNames namesOf(const EntryRow& row, const ImageTrees& trees) {
  EntryNames names;
  for (const EntryRecord& record : row.records) {
    const QString text = treeNameText(trees, record.tree, record.name);
    if (isKind(trees, record.tree, "udf")) names.udf = text;
    else if (isKind(trees, record.tree, "joliet")) names.joliet = text;
    else if (isKind(trees, record.tree, "iso9660")) {
      names.iso = text;
      if (!record.rockRidgeName.empty()) names.rockRidge = QString::fromStdString(record.rockRidgeName);
    }
  }
  if (names.iso.isEmpty() && names.udf.isEmpty() && names.joliet.isEmpty())
    names.iso = QString::fromStdString(row.name);
  return names;
}

EntryNames namesOf(const FolderTree& folders, int node, const QString& rockRidge) {
  EntryNames names;
  names.rockRidge = rockRidge;
  const ImageTrees& trees = folders.trees();
  for (const FolderPlace& place : folders.node(node).places) {
    const std::string& name = folders.nameIn(node, place.tree);
    const QString text = treeNameText(trees, place.tree, name);
    if (isKind(trees, place.tree, "udf")) names.udf = text;
    else if (isKind(trees, place.tree, "joliet")) names.joliet = text;
    else if (isKind(trees, place.tree, "iso9660")) {
      names.iso = text;
      const std::string& original = folders.rockRidgeNameIn(node, place.tree);
      if (names.rockRidge.isEmpty() && !original.empty()) names.rockRidge = QString::fromStdString(original);
    }
  }
  return names;
}

NameOrder::NameOrder() {
  // The C locale collates by code point and ignores numeric mode; a file manager never sorts so.
  if (QLocale().language() == QLocale::C) m_collator.setLocale(QLocale(QLocale::English, QLocale::UnitedStates));
  m_collator.setNumericMode(true);
  m_collator.setCaseSensitivity(Qt::CaseInsensitive);
}

bool NameOrder::less(bool aFolder, const QString& a, bool bFolder, const QString& b) const {
  if (aFolder != bFolder) return aFolder;
  const int order = m_collator.compare(a, b);
  return order != 0 ? order < 0 : a < b;  // names equal to the collator keep one fixed order
}

}  // namespace umbra

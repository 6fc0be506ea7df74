#pragma once
// The names the window shows: the one a file manager would show for an entry (its UDF name, then
// its Rock Ridge name, then its Joliet name, then its ISO 9660 identifier without the version),
// and the order a file manager lists them in (folders first, then names by the locale's collation
// with numbers in numeric order). The workspace gives every tree's names; the choice is the view's.
#include <QCollator>
#include <QString>
#include <QStringList>
#include <string>
#include <vector>

#include "engine/Workspace.h"

namespace umbra {

// The names one entry has in the trees of the image.
struct EntryNames {
  QString udf, rockRidge, joliet, iso;  // empty where the entry has none; iso as stored ("README.TXT;1")
  QString shown() const;
};

// A tree's name as text: ISO 9660 identifiers byte for byte, the other trees' names UTF-8.
QString treeNameText(const ImageTrees& trees, int tree, const std::string& name);
// The names of a listed entry, from its records.
EntryNames namesOf(const EntryRow& row, const ImageTrees& trees);
// The names of a folder of the tree, from its places; its Rock Ridge name when one is given.
EntryNames namesOf(const FolderTree& folders, int node, const QString& rockRidge = {});

// Folders before files, then the names as the locale collates them, "folder 2" before "folder 10".
class NameOrder {
 public:
  NameOrder();
  bool less(bool aFolder, const QString& a, bool bFolder, const QString& b) const;
  const QCollator& Collator() const { return m_collator; }

 private:
  QCollator m_collator;
};

}  // namespace umbra

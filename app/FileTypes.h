#pragma once
// Type names and icons of list entries, found from the entry's name alone (nothing on disk is
// looked at) and kept once per type, with the row decorations built from them.
#include <QHash>
#include <QIcon>
#include <QMimeDatabase>
#include <QPixmap>
#include <QString>
#include <vector>

#include "engine/Workspace.h"

namespace umbra {

class FileTypes {
 public:
  static constexpr int kFolderType = 0;
  static constexpr int kIconSide = 16;
  // A row's decoration: the state slot (padlock on hidden rows) then the type icon.
  static constexpr int kDecorationWidth = 2 * kIconSide;

  FileTypes(const QIcon& folder, const QIcon& padlock);

  int typeOf(const EntryRow& row);
  const QString& name(int type) const { return m_types[static_cast<size_t>(type)].name; }
  const QPixmap& decoration(int type, bool hidden);

  // "README.TXT;1" -> "README.TXT", "README.;1" -> "README": the name as the user knows it.
  static QString plainName(const std::string& isoName);

 private:
  struct Type {
    QString name;
    QIcon icon;
    QPixmap decoration[2];  // normal, hidden
  };
  int addType(const QString& name, const QIcon& icon);

  QMimeDatabase m_mime;
  QIcon m_padlock;
  QIcon m_fallback;
  std::vector<Type> m_types;
  QHash<QString, int> m_byMime;
};

}  // namespace umbra

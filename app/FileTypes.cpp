#include "app/FileTypes.h"

#include <QApplication>
#include <QMimeType>
#include <QPainter>
#include <QStyle>

namespace umbra {

namespace {
constexpr const char* kFolderTypeName = "Folder";
}

FileTypes::FileTypes(const QIcon& folder, const QIcon& padlock)
    : m_padlock(padlock), m_fallback(QApplication::style()->standardIcon(QStyle::SP_FileIcon)) {
  addType(QString::fromLatin1(kFolderTypeName), folder);
}

int FileTypes::addType(const QString& name, const QIcon& icon) {
  m_types.push_back(Type{name, icon, {}});
  return static_cast<int>(m_types.size()) - 1;
}

QString FileTypes::plainName(const std::string& isoName) {
  QString name = QString::fromLatin1(isoName.data(), static_cast<qsizetype>(isoName.size()));
  const qsizetype version = name.indexOf(QLatin1Char(';'));
  if (version >= 0) name.truncate(version);
  if (name.endsWith(QLatin1Char('.'))) name.chop(1);
  return name;
}

int FileTypes::typeOf(const EntryRow& row) {
  if (row.isFolder) return kFolderType;
  const QMimeType mime = m_mime.mimeTypeForFile(plainName(row.name), QMimeDatabase::MatchExtension);
  const auto known = m_byMime.constFind(mime.name());
  if (known != m_byMime.constEnd()) return known.value();
  QIcon icon = QIcon::fromTheme(mime.iconName(), QIcon::fromTheme(mime.genericIconName()));
  if (icon.isNull()) icon = m_fallback;
  const int type = addType(mime.comment(), icon);
  m_byMime.insert(mime.name(), type);
  return type;
}

const QPixmap& FileTypes::decoration(int type, bool hidden) {
  Type& entry = m_types[static_cast<size_t>(type)];
  QPixmap& decoration = entry.decoration[hidden ? 1 : 0];
  if (decoration.isNull()) {
    const qreal ratio = qApp->devicePixelRatio();
    decoration = QPixmap(QSize(kDecorationWidth, kIconSide) * ratio);
    decoration.setDevicePixelRatio(ratio);
    decoration.fill(Qt::transparent);
    QPainter painter(&decoration);
    if (hidden) painter.drawPixmap(0, 0, m_padlock.pixmap(kIconSide, kIconSide));
    painter.drawPixmap(kIconSide, 0, entry.icon.pixmap(kIconSide, kIconSide));
  }
  return decoration;
}

}  // namespace umbra

#include "HiddenEntriesDialog.h"

#include <QDialogButtonBox>
#include <QDir>
#include <QHeaderView>
#include <QLabel>
#include <QTreeView>
#include <QVBoxLayout>
#include <algorithm>

#include "engine/Error.h"

namespace umbra {

HiddenMarksModel::HiddenMarksModel(const QString& folder, const QStringList& marked, QObject* parent)
    : QFileSystemModel(parent), m_folder(QDir(folder).absolutePath()), m_marked(marked.begin(), marked.end()) {
  // Every entry the maker would put on the disc, hidden ones included; links are not followed.
  setFilter(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System);
  setResolveSymlinks(false);
  setReadOnly(true);
  setRootPath(m_folder);
}

QStringList HiddenMarksModel::marked() const {
  QStringList paths(m_marked.begin(), m_marked.end());
  std::sort(paths.begin(), paths.end());
  return paths;
}

QString HiddenMarksModel::relativePath(const QModelIndex& index) const {
  return QDir(m_folder).relativeFilePath(filePath(index));
}

Qt::ItemFlags HiddenMarksModel::flags(const QModelIndex& index) const {
  Qt::ItemFlags flags = QFileSystemModel::flags(index);
  if (index.isValid() && index.column() == 0) flags |= Qt::ItemIsUserCheckable;
  return flags;
}

QVariant HiddenMarksModel::data(const QModelIndex& index, int role) const {
  if (role == Qt::CheckStateRole && index.column() == 0)
    return m_marked.contains(relativePath(index)) ? Qt::Checked : Qt::Unchecked;
  return QFileSystemModel::data(index, role);
}

bool HiddenMarksModel::setData(const QModelIndex& index, const QVariant& value, int role) {
  if (role != Qt::CheckStateRole || index.column() != 0) return QFileSystemModel::setData(index, value, role);
  const QString path = relativePath(index);
  if (value.toInt() == Qt::Checked)
    m_marked.insert(path);
  else
    m_marked.remove(path);
  emit dataChanged(index, index, {Qt::CheckStateRole});
  return true;
}

HiddenEntriesDialog::HiddenEntriesDialog(const QString& sourceFolder, const QStringList& marked, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      m_model(new HiddenMarksModel(sourceFolder, marked, this)),
      m_tree(new QTreeView(this)) {
  setWindowTitle(QString::fromLatin1(kTitle));
  auto* layout = new QVBoxLayout(this);
  auto* explanation = new QLabel(QString::fromLatin1(kExplanation), this);
  explanation->setWordWrap(true);
  layout->addWidget(explanation);
  m_tree->setObjectName(QStringLiteral("sourceTree"));
  m_tree->setModel(m_model);
  m_tree->setRootIndex(m_model->index(QDir(sourceFolder).absolutePath()));
  for (int column = 1; column < m_model->columnCount(); ++column) m_tree->hideColumn(column);
  m_tree->header()->hide();
  layout->addWidget(m_tree, 1);
  // Readers treat hidden files apart from hidden folders: said here, where files are marked.
  auto* files = new QLabel(QString::fromLatin1(kHiddenFileReachNotice), this);
  files->setObjectName(QStringLiteral("hiddenFilesNote"));
  files->setWordWrap(true);
  layout->addWidget(files);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  layout->addWidget(buttons);
  resize(420, 460);
}

}  // namespace umbra

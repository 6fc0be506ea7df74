#pragma once
// Which entries of the source folder the new image hides from the start: the folder as a tree, a
// mark on each folder and file to hide on the disc. The image maker hides the marked entries in the
// image it has just made, in every tree, before the image takes the target's name.
#include <QDialog>
#include <QFileSystemModel>
#include <QSet>
#include <QStringList>

class QTreeView;

namespace umbra {

// The source folder with a check mark per entry; the marks are paths relative to the folder.
class HiddenMarksModel : public QFileSystemModel {
  Q_OBJECT

 public:
  HiddenMarksModel(const QString& folder, const QStringList& marked, QObject* parent = nullptr);

  QStringList marked() const;  // '/'-separated, relative to the folder, sorted
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;

 private:
  QString relativePath(const QModelIndex& index) const;
  QString m_folder;
  QSet<QString> m_marked;
};

class HiddenEntriesDialog : public QDialog {
  Q_OBJECT

 public:
  static constexpr const char* kTitle = "Hidden on the disc";
  static constexpr const char* kExplanation =
      "Tick the folders and files to hide on the disc. They are hidden in every tree of the new image "
      "once it is made; Open Image shows them again.";

  HiddenEntriesDialog(const QString& sourceFolder, const QStringList& marked, QWidget* parent = nullptr);
  QStringList marked() const { return m_model->marked(); }
  QTreeView* tree() const { return m_tree; }

 private:
  HiddenMarksModel* m_model;
  QTreeView* m_tree;
};

}  // namespace umbra

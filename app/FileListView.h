#pragma once
// The file list: a table of one row per entry that moves like a list. Home and End go to the first
// and the last row (not to the first and the last column), and the Name column takes the width
// the other columns leave, so the list fills its room as the window grows.
#include <QTableView>

namespace umbra {

class FileListView : public QTableView {
  Q_OBJECT

 public:
  explicit FileListView(QWidget* parent = nullptr);

  // Every column but Name as wide as its content and its heading, no narrower than its first width;
  // Name gets the rest of the list's width, no less than its own first width.
  void fitColumns();
  // Back to the first row and the first column, for a new listing.
  void scrollToStart();

 protected:
  QModelIndex moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) override;
  void resizeEvent(QResizeEvent* e) override;

 private:
  void fitNameColumn();
};

}  // namespace umbra

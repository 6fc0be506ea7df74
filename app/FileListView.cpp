#include "app/FileListView.h"

#include <QHeaderView>
#include <QScrollBar>

#include "app/FileListModel.h"

namespace umbra {

FileListView::FileListView(QWidget* parent) : QTableView(parent) {}

void FileListView::fitColumns() {
  if (model() == nullptr) return;
  QHeaderView* header = horizontalHeader();
  for (int column = 0; column < FileListModel::kColumnCount; ++column) {
    if (column == FileListModel::kName) continue;
    resizeColumnToContents(column);  // the content's and the heading's width, as a double-click gives
    header->resizeSection(column, qMax(FileListModel::kColumnWidths[column], header->sectionSize(column)));
  }
  fitNameColumn();
}

void FileListView::fitNameColumn() {
  if (model() == nullptr) return;
  QHeaderView* header = horizontalHeader();
  int others = 0;
  for (int column = 0; column < FileListModel::kColumnCount; ++column)
    if (column != FileListModel::kName) others += header->sectionSize(column);
  // A longer name than fits shows whole in its tool tip; the window can be made wider.
  header->resizeSection(FileListModel::kName,
                        qMax(FileListModel::kColumnWidths[FileListModel::kName], viewport()->width() - others));
}

void FileListView::scrollToStart() {
  horizontalScrollBar()->setValue(horizontalScrollBar()->minimum());
  verticalScrollBar()->setValue(verticalScrollBar()->minimum());
}

QModelIndex FileListView::moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) {
  if ((action == MoveHome || action == MoveEnd) && model() != nullptr && model()->rowCount() > 0) {
    // A row is the unit here: the first or the last one, shown from its name on.
    const int row = action == MoveHome ? 0 : model()->rowCount() - 1;
    return model()->index(row, FileListModel::kName);
  }
  return QTableView::moveCursor(action, modifiers);
}

void FileListView::resizeEvent(QResizeEvent* e) {
  QTableView::resizeEvent(e);
  fitNameColumn();
}

}  // namespace umbra

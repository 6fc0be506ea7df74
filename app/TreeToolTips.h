#pragma once
// Tool tips of the folder tree, made when one is asked for: a folder's state needs a read of the
// image, which is not worth doing for every folder when the tree is built.
#include <QObject>
#include <functional>

class QTreeWidget;

namespace umbra {

class TreeToolTips : public QObject {
  Q_OBJECT

 public:
  // text gives the tool tip of a node (the item's node number, as the tree items carry it).
  TreeToolTips(QTreeWidget* tree, int nodeRole, std::function<QString(int node)> text);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QTreeWidget* m_tree;
  int m_nodeRole;
  std::function<QString(int)> m_text;
};

}  // namespace umbra

#include "app/TreeToolTips.h"

#include <QHelpEvent>
#include <QToolTip>
#include <QTreeWidget>

namespace umbra {

TreeToolTips::TreeToolTips(QTreeWidget* tree, int nodeRole, std::function<QString(int)> text)
    : QObject(tree), m_tree(tree), m_nodeRole(nodeRole), m_text(std::move(text)) {
  tree->viewport()->installEventFilter(this);
}

bool TreeToolTips::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() != QEvent::ToolTip || watched != m_tree->viewport()) return false;
  const auto* help = static_cast<QHelpEvent*>(event);
  const QTreeWidgetItem* item = m_tree->itemAt(help->pos());
  const QVariant node = item ? item->data(0, m_nodeRole) : QVariant();
  const QString text = node.isValid() ? m_text(node.toInt()) : QString();
  if (text.isEmpty())
    QToolTip::hideText();
  else
    QToolTip::showText(help->globalPos(), text, m_tree->viewport(), m_tree->visualItemRect(item));
  return true;
}

}  // namespace umbra

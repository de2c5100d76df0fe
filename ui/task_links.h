#pragma once
// The explorer bar's building blocks: titled task sections and the links inside them.

#include <QString>

class QAbstractItemView;
class QGroupBox;
class QSortFilterProxyModel;
class QToolButton;
class QWidget;

namespace zorvex::ui {

// A section of the explorer bar; `tag` names the pane it belongs to. A section whose "wanted"
// property is false stays hidden on its pane too.
QGroupBox* TaskSection(const QString& name, const QString& title, const QString& tag);
QToolButton* TaskLink(const QString& name, const QString& caption, QWidget* parent);
// Header clicks sort by that column and toggle the order, while `allowed` says so.
void SortOnHeaderClick(QAbstractItemView* view, QSortFilterProxyModel* proxy,
                       bool (*allowed)(void*), void* context);

}  // namespace zorvex::ui

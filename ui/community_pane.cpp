#include "ui/community_pane.h"

#include <QLabel>
#include <QSortFilterProxyModel>
#include <QTableView>
#include <QVBoxLayout>

#include "network/peer_table.h"
#include "ui/node_models.h"
#include "ui/row_view.h"
#include "ui/task_links.h"
#include "ui/text.h"

namespace zorvex::ui {

CommunityPane::CommunityPane(NodeEvents& events, QWidget* parent)
    : QWidget(parent), events_(events), node_(events.node()) {
  auto* layout = new QVBoxLayout(this);
  summary_ = new QLabel(this);
  summary_->setObjectName(QStringLiteral("lblConnectionInfo"));
  layout->addWidget(summary_);
  layout->addWidget(new QLabel(QStringLiteral("Neighbours:"), this));
  auto* proxy = new QSortFilterProxyModel(this);
  proxy->setSourceModel(NeighboursModel(events_, this));
  view_ = RowView(QStringLiteral("Connections"), proxy, this);
  view_->setColumnWidth(0, 200);
  SortOnHeaderClick(view_, proxy, nullptr, nullptr);
  layout->addWidget(view_, 1);
  events_.AddObserver(this);
  ConnectionChanged();
}

CommunityPane::~CommunityPane() {
  events_.RemoveObserver(this);
}

void CommunityPane::ConnectionChanged() {
  const Preferences& prefs = node_.preferences();
  summary_->setText(QStringLiteral("%1 as %2 at %3: %4 of %5 neighbours.")
                        .arg(node_.peers().connected() ? QStringLiteral("Connected")
                                                       : QStringLiteral("Disconnected"))
                        .arg(FromBytes(prefs.Nickname), FromBytes(prefs.MyIP))
                        .arg(node_.peers().size())
                        .arg(prefs.MaxConnections));
}

}  // namespace zorvex::ui

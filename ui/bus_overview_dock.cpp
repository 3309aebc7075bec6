#include "ui/bus_overview_dock.h"

#include <QHeaderView>
#include <QPushButton>
#include <QSortFilterProxyModel>
#include <QTableView>
#include <QVBoxLayout>

namespace zta {

BusOverviewDock::BusOverviewDock(QWidget* parent)
    : QDockWidget(QStringLiteral("Обзор шины"), parent),
      model_(new BusOverviewModel(this)),
      proxy_(new QSortFilterProxyModel(this)),
      table_(new QTableView),
      openRest_(new QPushButton) {
    setObjectName(QStringLiteral("busOverview"));
    proxy_->setSourceModel(model_);
    proxy_->setSortRole(BusOverviewModel::SortRole);
    table_->setModel(proxy_);
    table_->setSortingEnabled(true);
    table_->sortByColumn(-1, Qt::AscendingOrder);  // slot order until a header is clicked
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setSelectionMode(QAbstractItemView::SingleSelection);
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->setAlternatingRowColors(true);
    table_->setWordWrap(false);
    table_->verticalHeader()->hide();
    // Fifty rows must fit a 1600x1000 screen: rows as tight as the font allows.
    const int rowHeight = table_->fontMetrics().height() + 2;
    table_->verticalHeader()->setMinimumSectionSize(rowHeight);
    table_->verticalHeader()->setDefaultSectionSize(rowHeight);
    table_->setIconSize(QSize(34, 12));
    table_->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    table_->horizontalHeader()->setStretchLastSection(true);
    connect(table_, &QTableView::doubleClicked, this, [this](const QModelIndex& index) {
        const ViewId view = ViewAtTableRow(index.row());
        if (view && onActivate) onActivate(view);
    });
    connect(openRest_, &QPushButton::clicked, this, [this] {
        if (onOpenRest) onOpenRest();
    });
    openRest_->hide();

    auto* body = new QWidget;
    auto* layout = new QVBoxLayout(body);
    layout->setContentsMargins(2, 2, 2, 2);
    layout->addWidget(openRest_);
    layout->addWidget(table_);
    setWidget(body);
}

void BusOverviewDock::SetRestCount(int count) {
    openRest_->setText(QStringLiteral("Открыть остальные (%1)").arg(count));
    openRest_->setVisible(count > 0);
}

ViewId BusOverviewDock::ViewAtTableRow(int row) const {
    const QModelIndex source = proxy_->mapToSource(proxy_->index(row, 0));
    return source.isValid() ? model_->ViewAt(source.row()) : 0;
}

}  // namespace zta

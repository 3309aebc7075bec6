// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/bus_overview_dock.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QPushButton>
#include <QSortFilterProxyModel>
#include <QSplitter>
#include <QTableView>
#include <QVBoxLayout>

namespace zta {

BusOverviewDock::BusOverviewDock(QWidget* parent)
    : QDockWidget(QStringLiteral("Обзор шины"), parent),
      model_(new BusOverviewModel(this)),
      proxy_(new QSortFilterProxyModel(this)),
      table_(new QTableView),
      openRest_(new QPushButton),
      trend_(new QPushButton(QStringLiteral("Тренд"))),
      lineHealth_(new QLabel),
      split_(new QSplitter(Qt::Horizontal)) {
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
    // Tight rows: a bench of fifty fits a 1000-pixel screen with the windows as icons.
    const int rowHeight = table_->fontMetrics().height() + 1;
    table_->verticalHeader()->setMinimumSectionSize(rowHeight);
    table_->verticalHeader()->setDefaultSectionSize(rowHeight);
    table_->setIconSize(QSize(34, 12));
    // Every column as wide as its texts: a narrow table scrolls rather than cut the last one.
    table_->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    connect(table_, &QTableView::doubleClicked, this, [this](const QModelIndex& index) {
        const AnalyzerId view = viewAtTableRow(index.row());
        if (view && onActivate) onActivate(view);
    });
    connect(openRest_, &QPushButton::clicked, this, [this] {
        if (onOpenRest) onOpenRest();
    });
    openRest_->hide();
    trend_->setObjectName(QStringLiteral("overviewTrend"));
    trend_->setCheckable(true);
    trend_->setToolTip(QStringLiteral("Тренд выбранного прибора"));
    // Told once per change of the shown view: a new selection, the panel shown or hidden, or
    // the rows moving under the selection when a window closes.
    const auto selected = [this] {
        const AnalyzerId view = detail_ && trend_->isChecked() ? selectedView() : 0;
        if (view == selected_) return;
        selected_ = view;
        if (onSelect) onSelect(view);
    };
    connect(table_->selectionModel(), &QItemSelectionModel::currentRowChanged, this, selected);
    connect(model_, &QAbstractItemModel::dataChanged, this, selected);
    connect(model_, &QAbstractItemModel::rowsRemoved, this, selected);
    connect(trend_, &QPushButton::toggled, this, [this, selected](bool on) {
        if (detail_) detail_->setVisible(on);
        selected();
    });

    // The buttons stand beside the table, not above it: every row of a full bench counts.
    auto* body = new QWidget;
    auto* layout = new QHBoxLayout(body);
    layout->setContentsMargins(2, 2, 2, 2);
    split_->addWidget(table_);
    split_->setChildrenCollapsible(false);
    layout->addWidget(split_, 1);
    auto* buttons = new QVBoxLayout;
    buttons->addWidget(trend_);
    buttons->addWidget(openRest_);
    buttons->addStretch();
    lineHealth_->setObjectName(QStringLiteral("lineHealth"));
    lineHealth_->setToolTip(
        QStringLiteral("Что сделала сама линия с подключения: байты вне обмена, целые кадры "
                       "других номеров в окне ответа, копии запросов от адаптера"));
    lineHealth_->hide();
    buttons->addWidget(lineHealth_);
    layout->addLayout(buttons);
    setWidget(body);
}

void BusOverviewDock::setDetail(QWidget* detail) {
    detail_ = detail;
    split_->addWidget(detail);
    split_->setStretchFactor(0, 3);
    split_->setStretchFactor(1, 2);
    detail->setVisible(trend_->isChecked());
}

AnalyzerId BusOverviewDock::selectedView() const {
    const QModelIndex current = table_->selectionModel()->currentIndex();
    return current.isValid() ? viewAtTableRow(current.row()) : 0;
}

void BusOverviewDock::setRestCount(int count) {
    openRest_->setText(QStringLiteral("Открыть остальные (%1)").arg(count));
    openRest_->setVisible(count > 0);
}

void BusOverviewDock::setLineHealth(const QString& text) {
    lineHealth_->setText(text);
    lineHealth_->setVisible(!text.isEmpty());
}

AnalyzerId BusOverviewDock::viewAtTableRow(int row) const {
    const QModelIndex source = proxy_->mapToSource(proxy_->index(row, 0));
    return source.isValid() ? model_->viewAt(source.row()) : 0;
}

}  // namespace zta

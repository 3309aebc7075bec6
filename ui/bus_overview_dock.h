// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDockWidget>
#include <functional>

#include "ui/bus_overview_model.h"

class QLabel;
class QPushButton;
class QSortFilterProxyModel;
class QSplitter;
class QTableView;

namespace zta {

// The bus overview as a dock of the main window: a sortable table of every analyzer window
// (and of analyzers found by a search that have no window yet), one row each.
class BusOverviewDock : public QDockWidget {
    Q_OBJECT
  public:
    explicit BusOverviewDock(QWidget* parent = nullptr);

    BusOverviewModel& model() { return *model_; }
    QTableView* table() const { return table_; }
    QPushButton* openRestButton() const { return openRest_; }

    // A double click on a row with a window.
    std::function<void(AnalyzerId)> onActivate;
    // "Открыть остальные": windows for the found analyzers that have none.
    std::function<void()> onOpenRest;
    // Shows the button while some found analyzers have no window.
    void setRestCount(int count);
    // The line's own counts beside the table; empty hides them.
    void setLineHealth(const QString& text);
    QLabel* lineHealthLabel() const { return lineHealth_; }

    // "Тренд": a panel beside the table that follows the selected row. The panel is the
    // caller's (it knows where the readings live); it shows while the button is down.
    void setDetail(QWidget* detail);
    QPushButton* trendButton() const { return trend_; }
    // The selected row's view when the selection or the button changes; 0 for none, and 0
    // when the panel is hidden.
    std::function<void(AnalyzerId)> onSelect;
    AnalyzerId selectedView() const;

    // The view of the row at the table's (sorted) row; 0 for none.
    AnalyzerId viewAtTableRow(int row) const;

  private:
    BusOverviewModel* model_;
    QSortFilterProxyModel* proxy_;
    QTableView* table_;
    QPushButton* openRest_;
    QPushButton* trend_;
    QLabel* lineHealth_;
    QSplitter* split_;
    QWidget* detail_ = nullptr;
    AnalyzerId selected_ = 0;
};

}  // namespace zta

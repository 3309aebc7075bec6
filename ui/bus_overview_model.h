// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QAbstractTableModel>
#include <QTimer>
#include <functional>
#include <vector>

#include "poll/poll_block.h"

namespace zta {

// One analyzer window as the overview shows it; a found analyzer without a window has view 0
// and only its network number.
struct OverviewRow {
    AnalyzerId view = 0;
    Slot slot;
    bool polling = false;
};

// The bus overview: one row per analyzer window, in slot order. Rows are pulled from a source
// at most a few times a second, however many data notices arrive, so fifty analyzers cost the
// UI thread one refresh per tick rather than one per notice.
class BusOverviewModel : public QAbstractTableModel {
    Q_OBJECT
  public:
    enum Column {
        Number,
        Factory,
        Gas,
        Concentration,
        UnitValue,
        Thresholds,
        Relays,
        Link,
        Age,
        Requests,
        Replies,
        Timeouts,
        BadReplies,
        Refusals,
        MeanReply,
        MaxReply,
        LastCommand,
        CommandStateColumn,
        ColumnCount
    };
    // The value sorting goes by (numbers as numbers).
    static constexpr int SortRole = Qt::UserRole;
    static constexpr int RefreshMs = 250;

    using Source = std::function<std::vector<OverviewRow>()>;

    explicit BusOverviewModel(QObject* parent = nullptr);

    void setSource(Source source);
    // Something changed: the next tick refreshes. Cheap enough for every data notice.
    void markDirty();
    // Pulls the rows now (tests, and after opening or closing windows).
    void refresh();
    int refreshes() const { return refreshes_; }

    AnalyzerId viewAt(int row) const;
    int rowOfView(AnalyzerId view) const;
    const OverviewRow* rowAt(int row) const;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

  private:
    void tick();
    QVariant display(const OverviewRow& row, int column) const;
    QVariant sortKey(const OverviewRow& row, int column) const;

    Source source_;
    std::vector<OverviewRow> rows_;
    QTimer timer_;
    bool dirty_ = false;
    int idleTicks_ = 0;
    int refreshes_ = 0;
};

}  // namespace zta

// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QChar>
#include <QList>
#include <QString>
#include <QTimer>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "device/trend_history.h"

class QChart;
class QChartView;
class QDateTimeAxis;
class QDoubleSpinBox;
class QGraphicsSimpleTextItem;
class QHBoxLayout;
class QLabel;
class QLineSeries;
class QSpinBox;
class QVBoxLayout;
class QValueAxis;

namespace zta {

// "Нуль", "Газ В", "Газ С", "Типовые", "Порог 1", "Порог 2".
QString trendMarkText(TrendMarkKind kind);

// The settling line above a trend: settled or not, by how much it moved, over how long.
QString describeSettling(const Settling& settling, const SettleRule& rule);

// A live plot of one analyzer's concentration over time: the last 10 minutes unless zoomed
// (wheel, "+" / "-") or panned (drag, arrows); "Сейчас" (or a double click) follows the
// newest readings again. Marks show where commands were confirmed; the settling line says
// whether the reading has settled. Reads a history owned elsewhere (an analyzer document),
// so any window can show any analyzer's trend.
class TrendView : public QWidget {
    Q_OBJECT
  public:
    static constexpr std::int64_t kDefaultSpanMs = 10 * 60 * 1000;
    static constexpr std::int64_t kMinSpanMs = 10 * 1000;

    explicit TrendView(QWidget* parent = nullptr);
    ~TrendView() override;

    // `range`: the analyzer's range in %НКПР, for the settling band.
    void setHistory(std::shared_ptr<const TrendHistory> history, double range = 100.0);
    const TrendHistory* history() const { return history_.get(); }
    void setRange(double range);
    double range() const { return range_; }
    void setSettleRule(const SettleRule& rule);
    SettleRule settleRule() const { return rule_; }
    // The clock the view follows; the system clock unless set (tests).
    void setClock(std::function<std::int64_t()> nowMs);

    // The shown time span [first, last] in ms since the epoch.
    std::int64_t shownFrom() const { return to_ - span_; }
    std::int64_t shownTo() const { return to_; }
    std::int64_t span() const { return span_; }
    bool following() const { return following_; }
    void setSpan(std::int64_t ms);                    // clamped to 10 s .. 24 h
    void zoomBy(double factor, double anchor = 1.0);  // anchor: 0 left edge .. 1 right edge
    void panBy(double spans);                         // > 0 later, < 0 earlier
    void follow();

    Settling settling() const { return settling_; }
    QString settlingText() const;
    QLabel* settlingLabel() const;
    // The marks inside the shown span, oldest first.
    std::vector<TrendMark> shownMarks() const;
    // Points drawn, over all stretches of the line (several per pixel are merged).
    int drawnPointCount() const;

    // Redraws now what has changed; the view also does so four times a second while shown.
    void refresh();

    // Both exports replace the file only when the new one is complete; false with the reason.
    bool exportPng(const QString& path, QString* reason = nullptr);
    // The shown samples and marks, in the CSV log's manner (BOM, ';', `decimalPoint`).
    bool exportCsv(const QString& path, QChar decimalPoint, QString* reason = nullptr) const;

    QChart* chart() const { return chart_; }

  signals:
    void settledChanged(bool settled);

  protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    std::int64_t timeNow() const;
    void redraw();
    void updateSettling();
    void drawMarks();
    QLineSeries* lineSeries(std::size_t index);
    void exportAs(bool png);
    void placeSettling();

    std::shared_ptr<const TrendHistory> history_;
    double range_ = 100.0;
    SettleRule rule_;
    std::function<std::int64_t()> clock_;
    std::int64_t span_ = kDefaultSpanMs;
    std::int64_t to_ = 0;
    bool following_ = true;
    std::uint64_t drawnVersion_ = ~0ULL;
    std::int64_t drawnFrom_ = 0, drawnTo_ = 0;
    Settling settling_;
    bool settledShown_ = false;

    QChart* chart_ = nullptr;
    QChartView* chartView_ = nullptr;
    QDateTimeAxis* timeAxis_ = nullptr;
    QValueAxis* valueAxis_ = nullptr;
    std::vector<QLineSeries*> lines_;  // one per stretch without a gap; extras kept empty
    std::size_t linesUsed_ = 0;
    std::vector<QLineSeries*> markLines_;
    std::vector<QGraphicsSimpleTextItem*> markLabels_;
    std::vector<TrendMark> shownMarks_;
    QLabel* settlingLabel_ = nullptr;
    bool settlingBeside_ = true;
    QHBoxLayout* bar_ = nullptr;
    QVBoxLayout* layout_ = nullptr;
    std::vector<QWidget*> controls_;
    QDoubleSpinBox* bandBox_ = nullptr;
    QSpinBox* secondsBox_ = nullptr;
    QTimer refreshTimer_;
    int dragX_ = -1;
    std::int64_t dragTo_ = 0;
};

}  // namespace zta

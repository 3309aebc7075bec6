// SPDX-License-Identifier: GPL-3.0-or-later
// The trend's drawing: its line from the history, the marks of commands and their labels.
#include <QChart>
#include <QDateTime>
#include <QDateTimeAxis>
#include <QGraphicsSimpleTextItem>
#include <QLineSeries>
#include <QValueAxis>
#include <algorithm>
#include <cmath>

#include "device/trend_view.h"

namespace zta {

namespace {

QColor markColor(TrendMarkKind kind) {
    switch (kind) {
        case TrendMarkKind::Zero:
            return QColor(0x20, 0x60, 0xc0);
        case TrendMarkKind::HighGas:
        case TrendMarkKind::MiddleGas:
        case TrendMarkKind::Typical:
            return QColor(0x10, 0x90, 0x40);
        case TrendMarkKind::Threshold1:
        case TrendMarkKind::Threshold2:
            return QColor(0xc0, 0x50, 0x10);
    }
    return Qt::gray;
}

}  // namespace

QString trendMarkText(TrendMarkKind kind) {
    switch (kind) {
        case TrendMarkKind::Zero:
            return QStringLiteral("Нуль");
        case TrendMarkKind::HighGas:
            return QStringLiteral("Газ В");
        case TrendMarkKind::MiddleGas:
            return QStringLiteral("Газ С");
        case TrendMarkKind::Typical:
            return QStringLiteral("Типовые");
        case TrendMarkKind::Threshold1:
            return QStringLiteral("Порог 1");
        case TrendMarkKind::Threshold2:
            return QStringLiteral("Порог 2");
    }
    return {};
}

void TrendView::refresh() {
    const std::uint64_t version = history_ ? history_->version() : 0;
    // Following without new readings, the span moves on only by whole steps of 1/200 of it,
    // so that fifty idle trends do not redraw four times a second.
    if (following_ && (version != drawnVersion_ || timeNow() - drawnTo_ >= span_ / 200))
        to_ = timeNow();
    if (version != drawnVersion_ || shownFrom() != drawnFrom_ || to_ != drawnTo_) redraw();
    drawnVersion_ = version;
    updateSettling();
}

QLineSeries* TrendView::lineSeries(std::size_t index) {
    while (lines_.size() <= index) {
        auto* s = new QLineSeries;
        s->setPen(QPen(QColor(0x20, 0x20, 0x20), 1.0));
        chart_->addSeries(s);
        s->attachAxis(timeAxis_);
        s->attachAxis(valueAxis_);
        lines_.push_back(s);
    }
    return lines_[index];
}

void TrendView::redraw() {
    const std::int64_t from = shownFrom();
    drawnFrom_ = from;
    drawnTo_ = to_;

    // One sample on each side of the span, so the line runs to the edges.
    std::vector<QList<QPointF>> stretches;
    float lo = 0.0f, hi = 0.0f;
    bool any = false;
    if (history_) {
        const auto& all = history_->samples();
        auto byTime = [](const TrendSample& s, std::int64_t t) { return s.ms < t; };
        auto first = std::lower_bound(all.begin(), all.end(), from, byTime);
        if (first != all.begin()) --first;
        auto last = std::lower_bound(first, all.end(), to_, byTime);
        if (last != all.end()) ++last;
        // More samples than pixels: each pixel column keeps its lowest and highest reading.
        const int width = std::max(100, int(chart_->plotArea().width()));
        const std::int64_t bucketMs = std::max<std::int64_t>(1, span_ / width);
        const bool merge = (last - first) > 2 * width;
        std::int64_t bucket = INT64_MIN;
        for (auto it = first; it != last; ++it) {
            if (stretches.empty() || it->gapBefore) {
                stretches.emplace_back();
                bucket = INT64_MIN;
            }
            QList<QPointF>& points = stretches.back();
            if (it->ms >= from && it->ms <= to_) {
                lo = any ? std::min(lo, it->value) : it->value;
                hi = any ? std::max(hi, it->value) : it->value;
                any = true;
            }
            if (merge) {
                const std::int64_t b = (it->ms - from) / bucketMs;
                if (b == bucket && points.size() >= 2) {
                    QPointF& low = points[points.size() - 2];
                    QPointF& high = points.back();
                    if (it->value < low.y()) low.setY(it->value);
                    if (it->value > high.y()) high.setY(it->value);
                    continue;
                }
                bucket = b;
                points.append(QPointF(double(it->ms), it->value));
                points.append(QPointF(double(it->ms) + 0.5, it->value));
                continue;
            }
            points.append(QPointF(double(it->ms), it->value));
        }
    }
    timeAxis_->setRange(QDateTime::fromMSecsSinceEpoch(from), QDateTime::fromMSecsSinceEpoch(to_));
    for (std::size_t i = 0; i < stretches.size(); ++i) lineSeries(i)->replace(stretches[i]);
    for (std::size_t i = stretches.size(); i < linesUsed_; ++i) lines_[i]->clear();
    linesUsed_ = stretches.size();

    // The value axis fits the shown readings, never narrower than 2 % of the range.
    double low = any ? lo : 0.0, high = any ? hi : range_;
    const double minSpread = range_ * 0.02;
    if (high - low < minSpread) {
        const double mid = (high + low) / 2.0;
        low = mid - minSpread / 2.0;
        high = mid + minSpread / 2.0;
    }
    // Round bounds, set in one call: every range change re-lays out every series of the chart.
    const double raw = (high - low) / 5.0;
    const double magnitude = std::pow(10.0, std::floor(std::log10(raw)));
    const double step = raw / magnitude < 2.0   ? 2.0 * magnitude
                        : raw / magnitude < 5.0 ? 5.0 * magnitude
                                                : 10.0 * magnitude;
    const double bottom = std::floor(low / step) * step, top = std::ceil(high / step) * step;
    if (bottom != valueAxis_->min() || top != valueAxis_->max()) {
        valueAxis_->setRange(bottom, top);
        valueAxis_->setTickCount(int(std::lround((top - bottom) / step)) + 1);
    }
    drawMarks();
}

void TrendView::drawMarks() {
    shownMarks_.clear();
    if (history_)
        for (const TrendMark& m : history_->marks())
            if (m.ms >= shownFrom() && m.ms <= to_) shownMarks_.push_back(m);
    const double top = valueAxis_->max(), bottom = valueAxis_->min();
    for (std::size_t i = 0; i < shownMarks_.size(); ++i) {
        if (markLines_.size() <= i) {
            auto* s = new QLineSeries;
            chart_->addSeries(s);
            s->attachAxis(timeAxis_);
            s->attachAxis(valueAxis_);
            markLines_.push_back(s);
            auto* label = new QGraphicsSimpleTextItem(chart_);
            label->setZValue(20);
            markLabels_.push_back(label);
        }
        const TrendMark& m = shownMarks_[i];
        QPen pen(markColor(m.kind), 1.0, Qt::DashLine);
        markLines_[i]->setPen(pen);
        markLines_[i]->replace({QPointF(double(m.ms), bottom), QPointF(double(m.ms), top)});
        markLabels_[i]->setText(trendMarkText(m.kind));
        markLabels_[i]->setBrush(markColor(m.kind));
        const QPointF at = chart_->mapToPosition(QPointF(double(m.ms), top), markLines_[i]);
        // Marks close in time would write their names over each other: a name that would
        // touch one placed before goes a line lower.
        QRectF place(at + QPointF(3, 0), markLabels_[i]->boundingRect().size());
        for (bool moved = true; moved;) {
            moved = false;
            for (std::size_t j = 0; j < i; ++j) {
                const QRectF other(markLabels_[j]->pos(), markLabels_[j]->boundingRect().size());
                if (place.intersects(other.adjusted(-2, 0, 2, 0))) {
                    place.moveTop(other.bottom());
                    moved = true;
                }
            }
        }
        markLabels_[i]->setPos(place.topLeft());
        markLabels_[i]->show();
    }
    for (std::size_t i = shownMarks_.size(); i < markLines_.size(); ++i) {
        markLines_[i]->clear();
        markLabels_[i]->hide();
    }
}

std::vector<TrendMark> TrendView::shownMarks() const { return shownMarks_; }

int TrendView::drawnPointCount() const {
    int n = 0;
    for (std::size_t i = 0; i < linesUsed_; ++i) n += int(lines_[i]->count());
    return n;
}

}  // namespace zta

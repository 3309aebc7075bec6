// SPDX-License-Identifier: GPL-3.0-or-later
#include "device/trend_view.h"

#include <QBuffer>
#include <QChart>
#include <QChartView>
#include <QDateTime>
#include <QDateTimeAxis>
#include <QDir>
#include <QDoubleSpinBox>
#include <QGraphicsSimpleTextItem>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineSeries>
#include <QLocale>
#include <QMouseEvent>
#include <QPixmap>
#include <QSpinBox>
#include <QToolButton>
#include <QVBoxLayout>
#include <QValueAxis>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>

#include "device/csv_log.h"
#include "ui/dialogs.h"
#include "ui/file_io.h"

namespace zta {

namespace {

QToolButton* toolButton(const QString& text, const QString& tip, QWidget* parent) {
    auto* b = new QToolButton(parent);
    b->setText(text);
    b->setToolTip(tip);
    return b;
}

}  // namespace

QString describeSettling(const Settling& s, const SettleRule& rule) {
    if (!s.fresh) return QStringLiteral("Нет свежих показаний");
    if (!s.covered)
        return QStringLiteral("Не установилось: показания идут меньше %1 с").arg(rule.seconds);
    return QStringLiteral("%1: изменение %2 % диапазона за %3 с (допуск %4 %)")
        .arg(s.settled ? QStringLiteral("Установилось") : QStringLiteral("Не установилось"),
             QString::number(s.movedPercent, 'f', 1), QString::number(rule.seconds),
             QString::number(rule.bandPercent, 'g', 3));
}

TrendView::TrendView(QWidget* parent) : QWidget(parent) {
    chart_ = new QChart;
    chart_->legend()->hide();
    chart_->setMargins(QMargins(4, 4, 4, 4));
    timeAxis_ = new QDateTimeAxis;
    timeAxis_->setFormat(QStringLiteral("HH:mm:ss"));
    timeAxis_->setTickCount(6);
    valueAxis_ = new QValueAxis;
    valueAxis_->setTitleText(QStringLiteral("%НКПР"));
    chart_->addAxis(timeAxis_, Qt::AlignBottom);
    chart_->addAxis(valueAxis_, Qt::AlignLeft);
    // A time axis with no series attached is not drawn: one (empty) line from the start keeps
    // the axis while there are no readings, as beside the overview before a row's first poll.
    lineSeries(0);

    chartView_ = new QChartView(chart_, this);
    chartView_->setRenderHint(QPainter::Antialiasing, false);
    chartView_->setMinimumHeight(160);
    chartView_->viewport()->installEventFilter(this);

    settlingLabel_ = new QLabel(this);
    settlingLabel_->setObjectName(QStringLiteral("settling"));
    settlingLabel_->setWordWrap(true);
    bandBox_ = new QDoubleSpinBox(this);
    // Numbers on screen take the point, as the windows show them; exports keep the locale's.
    QLocale point = QLocale::c();
    point.setNumberOptions(QLocale::OmitGroupSeparator);
    bandBox_->setLocale(point);
    bandBox_->setRange(0.1, 50.0);
    bandBox_->setDecimals(1);
    bandBox_->setSingleStep(0.5);
    bandBox_->setSuffix(QStringLiteral(" %"));
    bandBox_->setValue(rule_.bandPercent);
    bandBox_->setToolTip(QStringLiteral("Допуск: доля диапазона"));
    secondsBox_ = new QSpinBox(this);
    secondsBox_->setRange(1, 3600);
    secondsBox_->setSuffix(QStringLiteral(" с"));
    secondsBox_->setValue(rule_.seconds);
    secondsBox_->setToolTip(QStringLiteral("За сколько секунд"));
    auto ruleChanged = [this] { setSettleRule({bandBox_->value(), secondsBox_->value()}); };
    connect(bandBox_, &QDoubleSpinBox::valueChanged, this, ruleChanged);
    connect(secondsBox_, &QSpinBox::valueChanged, this, ruleChanged);

    auto* zoomIn = toolButton(QStringLiteral("+"), QStringLiteral("Крупнее"), this);
    auto* zoomOut = toolButton(QStringLiteral("−"), QStringLiteral("Мельче"), this);
    auto* now =
        toolButton(QStringLiteral("Сейчас"), QStringLiteral("Следить за новыми показаниями"), this);
    auto* png = toolButton(QStringLiteral("PNG…"), QStringLiteral("Сохранить картинку"), this);
    auto* csv = toolButton(QStringLiteral("CSV…"), QStringLiteral("Сохранить показания"), this);
    connect(zoomIn, &QToolButton::clicked, this, [this] { zoomBy(0.5); });
    connect(zoomOut, &QToolButton::clicked, this, [this] { zoomBy(2.0); });
    connect(now, &QToolButton::clicked, this, &TrendView::follow);
    connect(png, &QToolButton::clicked, this, [this] { exportAs(true); });
    connect(csv, &QToolButton::clicked, this, [this] { exportAs(false); });

    csv->setObjectName(QStringLiteral("exportCsv"));
    bar_ = new QHBoxLayout;
    bar_->setContentsMargins(0, 0, 0, 0);
    bar_->addWidget(settlingLabel_, 1);
    controls_ = {bandBox_, secondsBox_, zoomOut, zoomIn, now, png, csv};
    for (QWidget* c : controls_) bar_->addWidget(c);
    layout_ = new QVBoxLayout(this);
    layout_->setContentsMargins(0, 0, 0, 0);
    layout_->setSpacing(2);
    layout_->addLayout(bar_);
    layout_->addWidget(chartView_, 1);
    setFocusPolicy(Qt::StrongFocus);

    refreshTimer_.setInterval(250);
    connect(&refreshTimer_, &QTimer::timeout, this, &TrendView::refresh);
    to_ = timeNow();
}

TrendView::~TrendView() = default;

void TrendView::setHistory(std::shared_ptr<const TrendHistory> history, double range) {
    history_ = std::move(history);
    range_ = range > 0.0 ? range : 100.0;
    drawnVersion_ = ~0ULL;
    refresh();
}

void TrendView::setRange(double range) {
    range_ = range > 0.0 ? range : 100.0;
    updateSettling();
}

void TrendView::setSettleRule(const SettleRule& rule) {
    rule_ = rule;
    {
        const QSignalBlocker a(bandBox_), b(secondsBox_);
        bandBox_->setValue(rule.bandPercent);
        secondsBox_->setValue(rule.seconds);
    }
    updateSettling();
}

void TrendView::setClock(std::function<std::int64_t()> nowMs) {
    clock_ = std::move(nowMs);
    if (following_) to_ = timeNow();
    refresh();
}

std::int64_t TrendView::timeNow() const {
    return clock_ ? clock_() : QDateTime::currentMSecsSinceEpoch();
}

void TrendView::setSpan(std::int64_t ms) {
    span_ = std::clamp<std::int64_t>(ms, kMinSpanMs, TrendHistory::kKeepMs);
    refresh();
}

void TrendView::zoomBy(double factor, double anchor) {
    const std::int64_t at = shownFrom() + std::int64_t(double(span_) * anchor);
    span_ = std::clamp<std::int64_t>(std::int64_t(double(span_) * factor), kMinSpanMs,
                                     TrendHistory::kKeepMs);
    if (!following_) to_ = at + std::int64_t(double(span_) * (1.0 - anchor));
    refresh();
}

void TrendView::panBy(double spans) {
    to_ += std::int64_t(double(span_) * spans);
    following_ = to_ >= timeNow();
    if (following_) to_ = timeNow();
    refresh();
}

void TrendView::follow() {
    following_ = true;
    to_ = timeNow();
    refresh();
}

void TrendView::updateSettling() {
    static const std::deque<TrendSample> none;
    settling_ = settlingAt(history_ ? history_->samples() : none, timeNow(), range_, rule_,
                           history_ ? history_->freshLimitMs() : 0);
    // A style sheet costs a re-polish: set only when the state turns.
    const QString text = describeSettling(settling_, rule_);
    if (settlingLabel_->text() != text) {
        settlingLabel_->setText(text);
        placeSettling();
    }
    if (settling_.settled != settledShown_ || settlingLabel_->styleSheet().isEmpty()) {
        settlingLabel_->setStyleSheet(settling_.settled ? QStringLiteral("color: #107030;")
                                                        : QStringLiteral("color: #a05000;"));
        if (settling_.settled != settledShown_) {
            settledShown_ = settling_.settled;
            emit settledChanged(settledShown_);
        }
    }
}

QString TrendView::settlingText() const { return settlingLabel_->text(); }

QLabel* TrendView::settlingLabel() const { return settlingLabel_; }

void TrendView::placeSettling() {
    // Beside the controls while the whole line fits there; narrower (beside the overview's
    // table), on a row of its own above them, wrapped rather than cut.
    int need = settlingLabel_->fontMetrics().horizontalAdvance(settlingLabel_->text()) +
               2 * settlingLabel_->margin() + 2 * settlingLabel_->frameWidth();
    for (QWidget* c : controls_) need += c->sizeHint().width() + bar_->spacing();
    const bool beside = width() >= need;
    if (beside == settlingBeside_) return;
    settlingBeside_ = beside;
    if (beside) {
        layout_->removeWidget(settlingLabel_);
        delete bar_->takeAt(0);  // the stretch that kept the controls to the right
        bar_->insertWidget(0, settlingLabel_, 1);
    } else {
        bar_->removeWidget(settlingLabel_);
        bar_->insertStretch(0, 1);
        layout_->insertWidget(0, settlingLabel_);
    }
}

void TrendView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    placeSettling();
}

bool TrendView::exportPng(const QString& path, QString* reason) {
    refresh();
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (!chartView_->grab().save(&buffer, "PNG")) {
        if (reason) *reason = QStringLiteral("рисунок не построен");
        return false;
    }
    return saveWholeFile(path, bytes, reason);
}

bool TrendView::exportCsv(const QString& path, QChar point, QString* reason) const {
    QByteArray out =
        "\xEF\xBB\xBF" + QStringLiteral("Дата и время;Концентрация, %НКПР;Команда\r\n").toUtf8();
    if (history_) {
        const auto& marks = history_->marks();
        auto mark = marks.begin();
        auto row = [&](std::int64_t ms, const QString& value, const QString& command) {
            out += (csvTimestamp(QDateTime::fromMSecsSinceEpoch(ms)) + QLatin1Char(';') + value +
                    QLatin1Char(';') + command + QLatin1String("\r\n"))
                       .toUtf8();
        };
        auto marksUntil = [&](std::int64_t ms) {
            for (; mark != marks.end() && mark->ms <= ms; ++mark)
                if (mark->ms >= shownFrom()) row(mark->ms, QString(), trendMarkText(mark->kind));
        };
        for (const TrendSample& s : history_->samples()) {
            if (s.ms < shownFrom()) continue;
            if (s.ms > to_) break;
            marksUntil(s.ms);
            row(s.ms, csvNumber(s.value, 1, point), QString());
        }
        marksUntil(to_);
    }
    return saveWholeFile(path, out, reason);
}

void TrendView::exportAs(bool png) {
    const QString filter = png ? QStringLiteral("PNG (*.png)") : QStringLiteral("CSV (*.csv)");
    const std::optional<QString> chosen =
        dialogs().askFilePath(Dialogs::FileMode::Save, QString(), filter, this);
    if (!chosen || chosen->isEmpty()) return;
    const QString& path = *chosen;
    QString reason;
    const bool written =
        png ? exportPng(path, &reason) : exportCsv(path, QLocale().decimalPoint().at(0), &reason);
    if (!written)
        dialogs().error(QStringLiteral("Файл %1 не записан: %2. Прежний файл сохранён.")
                            .arg(QDir::toNativeSeparators(path), reason),
                        QStringLiteral("Тренд"), this);
}

void TrendView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    refresh();
    refreshTimer_.start();
}

void TrendView::hideEvent(QHideEvent* event) {
    refreshTimer_.stop();
    QWidget::hideEvent(event);
}

void TrendView::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
        case Qt::Key_Plus:
        case Qt::Key_Equal:
            zoomBy(0.5);
            return;
        case Qt::Key_Minus:
            zoomBy(2.0);
            return;
        case Qt::Key_Left:
            panBy(-0.25);
            return;
        case Qt::Key_Right:
            panBy(0.25);
            return;
        case Qt::Key_Home:
        case Qt::Key_End:
            follow();
            return;
        default:
            QWidget::keyPressEvent(event);
    }
}

bool TrendView::eventFilter(QObject* watched, QEvent* event) {
    if (watched != chartView_->viewport()) return QWidget::eventFilter(watched, event);
    const QRectF plot = chart_->plotArea();
    switch (event->type()) {
        case QEvent::Wheel: {
            auto* e = static_cast<QWheelEvent*>(event);
            const double anchor =
                plot.width() > 0
                    ? std::clamp((e->position().x() - plot.left()) / plot.width(), 0.0, 1.0)
                    : 1.0;
            const int steps = e->angleDelta().y() / 120;
            if (steps != 0) {
                if (following_ && anchor < 1.0) following_ = false;
                zoomBy(std::pow(0.8, steps), anchor);
            }
            return true;
        }
        case QEvent::MouseButtonPress: {
            auto* e = static_cast<QMouseEvent*>(event);
            if (e->button() != Qt::LeftButton) break;
            dragX_ = int(e->position().x());
            dragTo_ = to_;
            return true;
        }
        case QEvent::MouseMove: {
            auto* e = static_cast<QMouseEvent*>(event);
            if (dragX_ < 0 || plot.width() <= 0) break;
            const double moved = (e->position().x() - dragX_) / plot.width();
            following_ = false;
            to_ = dragTo_;
            panBy(-moved);
            return true;
        }
        case QEvent::MouseButtonRelease:
            dragX_ = -1;
            return true;
        case QEvent::MouseButtonDblClick:
            follow();
            return true;
        default:
            break;
    }
    return QWidget::eventFilter(watched, event);
}

}  // namespace zta

// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/bus_overview_model.h"

#include <QColor>
#include <QIcon>
#include <QPainter>
#include <QPixmap>

#include "core/reading_columns.h"
#include "ui/command_texts.h"

namespace zta {

namespace {

// The age column moves on its own: without notices the rows are pulled once a second.
constexpr int kIdleTicksPerRefresh = 1000 / BusOverviewModel::RefreshMs;

// The reading columns stand together, in the order the core lists them.
static_assert(BusOverviewModel::Relays - BusOverviewModel::Factory + 1 ==
              static_cast<int>(kOverviewReadingColumns.size()));
static_assert(kOverviewReadingColumns.front() == ReadingColumn::FactoryNumber &&
              kOverviewReadingColumns.back() == ReadingColumn::RelayState);

bool linkUp(const Slot& s) { return s.errorCount < kLostContactLimit; }

QString msText(long us) { return us < 0 ? QString() : QString::number(us / 1000.0, 'f', 1); }

// Three dots: health, threshold 1, threshold 2; lit when the bit is set.
QIcon relayIcon(uint8_t bits) {
    static QIcon cache[8];
    QIcon& icon = cache[bits & 7];
    if (!icon.isNull()) return icon;
    QPixmap pixmap(34, 12);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    const QColor on[3] = {QColor(0, 160, 0), QColor(230, 160, 0), QColor(210, 0, 0)};
    for (int i = 0; i < 3; ++i) {
        p.setPen(Qt::darkGray);
        p.setBrush((bits >> i) & 1 ? on[i] : QColor(Qt::white));
        p.drawEllipse(QRectF(1 + 11 * i, 1, 10, 10));
    }
    p.end();
    icon = QIcon(pixmap);
    return icon;
}

}  // namespace

BusOverviewModel::BusOverviewModel(QObject* parent) : QAbstractTableModel(parent) {
    timer_.setInterval(RefreshMs);
    connect(&timer_, &QTimer::timeout, this, &BusOverviewModel::tick);
    timer_.start();
}

void BusOverviewModel::setSource(Source source) {
    source_ = std::move(source);
    refresh();
}

void BusOverviewModel::markDirty() { dirty_ = true; }

void BusOverviewModel::tick() {
    if (!dirty_ && ++idleTicks_ < kIdleTicksPerRefresh) return;
    refresh();
}

void BusOverviewModel::refresh() {
    dirty_ = false;
    idleTicks_ = 0;
    ++refreshes_;
    std::vector<OverviewRow> rows = source_ ? source_() : std::vector<OverviewRow>{};
    const int before = static_cast<int>(rows_.size());
    const int after = static_cast<int>(rows.size());
    // Rows are slots: a close moves the later rows up, so everything left is redrawn.
    if (after < before) {
        beginRemoveRows({}, after, before - 1);
        rows_.resize(after);
        endRemoveRows();
    } else if (after > before) {
        beginInsertRows({}, before, after - 1);
        rows_.resize(after);
        endInsertRows();
    }
    rows_ = std::move(rows);
    if (after > 0) emit dataChanged(index(0, 0), index(after - 1, ColumnCount - 1));
}

AnalyzerId BusOverviewModel::viewAt(int row) const {
    return row >= 0 && row < static_cast<int>(rows_.size()) ? rows_[row].view : 0;
}

int BusOverviewModel::rowOfView(AnalyzerId view) const {
    for (size_t i = 0; i < rows_.size(); ++i)
        if (rows_[i].view == view) return static_cast<int>(i);
    return -1;
}

const OverviewRow* BusOverviewModel::rowAt(int row) const {
    return row >= 0 && row < static_cast<int>(rows_.size()) ? &rows_[row] : nullptr;
}

int BusOverviewModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int BusOverviewModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant BusOverviewModel::data(const QModelIndex& index, int role) const {
    const OverviewRow* row = rowAt(index.row());
    if (!row || index.column() < 0 || index.column() >= ColumnCount) return {};
    switch (role) {
        case Qt::DisplayRole:
            return display(*row, index.column());
        case Qt::ToolTipRole:
            // The whole text where a narrow column would cut it.
            if (index.column() == Gas || index.column() == LastCommand ||
                index.column() == CommandStateColumn)
                return display(*row, index.column());
            return {};
        case SortRole:
            return sortKey(*row, index.column());
        case Qt::DecorationRole:
            if (index.column() == Relays && linkUp(row->slot))
                return relayIcon(row->slot.readings.relayState);
            return {};
        case Qt::TextAlignmentRole:
            if (index.column() == Gas || index.column() == LastCommand ||
                index.column() == CommandStateColumn || index.column() == Link)
                return int(Qt::AlignLeft | Qt::AlignVCenter);
            return int(Qt::AlignRight | Qt::AlignVCenter);
        case Qt::ForegroundRole:
            if (index.column() == Link && !linkUp(row->slot)) return QColor(Qt::red);
            if (index.column() == CommandStateColumn) {
                const CommandTrack* t = zta::lastCommand(row->slot.commands);
                if (t && t->state == CommandStatus::Failed) return QColor(Qt::red);
            }
            return {};
        default:
            return {};
    }
}

QVariant BusOverviewModel::display(const OverviewRow& row, int column) const {
    const Slot& s = row.slot;
    const LinkHealth& h = s.health;
    const bool up = linkUp(s);
    const auto value = [&s](ReadingColumn reading) {
        return readingValue(reading, s.readings, s.texts);
    };
    const auto text = [&](ReadingColumn reading) {
        return QString::fromStdString(std::get<std::string>(value(reading))).trimmed();
    };
    const auto number = [&](ReadingColumn reading) { return readingNumber(value(reading)); };
    const auto whole = [&](ReadingColumn reading) { return std::get<long long>(value(reading)); };
    switch (column) {
        case Number:
            return s.address;
        case Factory:
            return up ? QVariant(static_cast<uint16_t>(whole(ReadingColumn::FactoryNumber)))
                      : QVariant();
        case Gas:
            return text(ReadingColumn::GasName);
        case Concentration:
            return up ? QString::number(number(ReadingColumn::Concentration), 'f', 0) : QString();
        case UnitValue: {
            const QString unit = text(ReadingColumn::UnitName);
            if (!up || unit.isEmpty() || unit == QLatin1String("-")) return {};
            return QString::number(number(ReadingColumn::UnitValue), 'f', 2) + QLatin1Char(' ') +
                   unit;
        }
        case Thresholds:
            return up ? QStringLiteral("%1 / %2")
                            .arg(whole(ReadingColumn::Threshold1))
                            .arg(whole(ReadingColumn::Threshold2))
                      : QString();
        case Relays:
            return {};
        case Link:
            if (!row.view) return QStringLiteral("окна нет");
            if (!row.polling) return QStringLiteral("не опрашивается");
            return up ? QStringLiteral("есть") : QStringLiteral("нет связи");
        case Age: {
            if (h.lastAnswerMs == 0) return {};
            const double seconds = (steadyNowMs() - h.lastAnswerMs) / 1000.0;
            return QStringLiteral("%1 с").arg(seconds, 0, 'f', 1);
        }
        case Requests:
            return QVariant::fromValue(h.requests);
        case Replies:
            return QVariant::fromValue(h.goodReplies);
        case Timeouts:
            return QVariant::fromValue(h.timeouts);
        case BadReplies:
            return QVariant::fromValue(h.badReplies());
        case Refusals:
            return QVariant::fromValue(h.refusals);
        case MeanReply:
            return msText(h.meanReplyUs());
        case MaxReply:
            return msText(h.maxReplyUs);
        case LastCommand: {
            Command which{};
            return zta::lastCommand(s.commands, &which) ? commandName(which) : QString();
        }
        case CommandStateColumn: {
            const CommandTrack* t = zta::lastCommand(s.commands);
            return t ? commandStateText(*t) : QString();
        }
        default:
            return {};
    }
}

QVariant BusOverviewModel::sortKey(const OverviewRow& row, int column) const {
    const Slot& s = row.slot;
    const Readings& r = s.readings;
    const LinkHealth& h = s.health;
    switch (column) {
        case Concentration:
        case UnitValue:
            return r.concentration;
        case Thresholds:
            return r.threshold1 * 1000 + r.threshold2;
        case Relays:
            return r.relayState;
        case Link:
            return s.errorCount;
        case Age:
            return h.lastAnswerMs ? QVariant::fromValue(steadyNowMs() - h.lastAnswerMs)
                                  : QVariant::fromValue(Q_INT64_C(1) << 62);
        case MeanReply:
            return QVariant::fromValue(h.meanReplyUs());
        case MaxReply:
            return QVariant::fromValue(h.maxReplyUs);
        default:
            return display(row, column);
    }
}

QVariant BusOverviewModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role != Qt::DisplayRole || orientation != Qt::Horizontal) return {};
    static const char* const titles[ColumnCount] = {
        "№",      nullptr,  nullptr,   nullptr,     nullptr,   nullptr,
        nullptr,  "Связь",  "Ответ",   "Запросы",   "Ответы",  "Тайм-ауты",
        "Ошибки", "Отказы", "Ср., мс", "Макс., мс", "Команда", "Состояние"};
    if (section >= Factory && section <= Relays)
        return QString::fromUtf8(
            readingColumn(kOverviewReadingColumns[section - Factory]).overviewHeading);
    return section >= 0 && section < ColumnCount ? QString::fromUtf8(titles[section]) : QVariant();
}

}  // namespace zta

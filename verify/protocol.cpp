// SPDX-License-Identifier: GPL-3.0-or-later
#include "verify/protocol.h"

#include <QBuffer>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QPainter>
#include <QPdfWriter>
#include <QRegularExpression>
#include <QStringList>
#include <cmath>
#include <memory>

#include "gas/gas_table.h"
#include "verify/texts.h"

static void loadFontResources() { Q_INIT_RESOURCE(verify_fonts); }

namespace zta::verify {

namespace {

QString num(double v, int decimals) { return QString::fromStdString(number(v, decimals)); }
QString num(const std::optional<double>& v, int decimals) { return v ? num(*v, decimals) : "-"; }
QString gasName(int code) {
    const GasInfo* gas = gasByCode(code);
    return gas ? QString::fromUtf8(gas->name) : QString::number(code);
}
QString date(Date d) { return QString::fromStdString(dateText(d)); }

// The embedded family, loaded once from the resources.
QString family() {
    static const QString loaded = [] {
        loadFontResources();
        const int id = QFontDatabase::addApplicationFont(":/zta/fonts/DejaVuSans.ttf");
        const QStringList families = QFontDatabase::applicationFontFamilies(id);
        return families.isEmpty() ? QString() : families.front();
    }();
    return loaded;
}

// A page that fills from the top and turns when full.
class Sheet {
  public:
    Sheet(QPdfWriter& writer) : writer_(writer), painter_(&writer) {
        const QRect page = writer.pageLayout().paintRectPixels(writer.resolution());
        width_ = page.width();
        bottom_ = page.height();
        normal_ = QFont(family(), 10);
        bold_ = QFont(family(), 10, QFont::Bold);
        title_ = QFont(family(), 14, QFont::Bold);
        small_ = QFont(family(), 8);
        smallBold_ = QFont(family(), 8, QFont::Bold);
    }
    bool ok() const { return painter_.isActive(); }
    const QFont& normal() const { return normal_; }
    const QFont& bold() const { return bold_; }
    const QFont& title() const { return title_; }
    const QFont& small() const { return small_; }

    void text(const QString& line, const QFont& font, Qt::Alignment align = Qt::AlignLeft) {
        painter_.setFont(font);
        const QRect box =
            painter_.boundingRect(QRect(0, 0, width_, bottom_), align | Qt::TextWordWrap, line);
        need(box.height());
        painter_.drawText(QRect(0, y_, width_, box.height()), align | Qt::TextWordWrap, line);
        y_ += box.height();
    }
    void gap(double lines = 0.5) { y_ += int(QFontMetrics(normal_, &writer_).height() * lines); }

    // Columns as shares of the width; the header repeats on a new page.
    void table(const QStringList& header, const std::vector<QStringList>& rows,
               const std::vector<double>& shares) {
        drawRow(header, shares, smallBold_);
        for (const QStringList& row : rows) {
            if (!drawRow(row, shares, small_)) continue;
            drawRow(header, shares, smallBold_);
            drawRow(row, shares, small_);
        }
    }

  private:
    bool need(int height) {
        if (y_ + height <= bottom_) return false;
        writer_.newPage();
        y_ = 0;
        return true;
    }
    // True when the page turned before the row: the caller repeats the header.
    bool drawRow(const QStringList& cells, const std::vector<double>& shares, const QFont& font) {
        painter_.setFont(font);
        const int pad = QFontMetrics(font, &writer_).height() / 4;
        int height = 0;
        std::vector<int> widths;
        for (size_t i = 0; i < shares.size(); ++i) {
            widths.push_back(int(shares[i] * width_));
            const QRect box = painter_.boundingRect(QRect(0, 0, widths.back() - 2 * pad, bottom_),
                                                    Qt::TextWordWrap, cells.value(int(i)));
            height = std::max(height, box.height() + 2 * pad);
        }
        const bool turned = need(height);
        if (turned) return true;
        int x = 0;
        for (size_t i = 0; i < widths.size(); ++i) {
            painter_.drawRect(QRect(x, y_, widths[i], height));
            painter_.drawText(QRect(x + pad, y_ + pad, widths[i] - 2 * pad, height - 2 * pad),
                              Qt::TextWordWrap, cells.value(int(i)));
            x += widths[i];
        }
        y_ += height;
        return false;
    }

    QPdfWriter& writer_;
    QPainter painter_;
    int width_ = 0;
    int bottom_ = 0;
    int y_ = 0;
    QFont normal_, bold_, title_, small_, smallBold_;
};

// A writer set for an archival A4 document; the bytes land in `buffer`.
std::unique_ptr<QPdfWriter> archivalWriter(QBuffer& buffer, const QString& title) {
    auto writer = std::make_unique<QPdfWriter>(&buffer);
    writer->setPdfVersion(QPagedPaintDevice::PdfVersion_A1b);
    writer->setPageSize(QPageSize(QPageSize::A4));
    writer->setPageMargins(QMarginsF(20, 15, 15, 15), QPageLayout::Millimeter);
    writer->setResolution(300);
    writer->setTitle(title);
    writer->setCreator("ZTA-K7");
    return writer;
}

bool ready(QString* error) {
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
        *error = "Протокол: нет графической части программы (QGuiApplication)";
        return false;
    }
    if (family().isEmpty()) {
        *error = "Протокол: шрифт DejaVu Sans не загружен из ресурсов программы";
        return false;
    }
    return true;
}

void header(Sheet& s, const QString& lab, const QString& station, const Conditions& c,
            const QDateTime& when) {
    if (!lab.isEmpty()) s.text(lab, s.bold());
    s.text(QStringLiteral("Рабочее место: %1").arg(station), s.normal());
    s.text(QStringLiteral("Дата: %1").arg(when.toString("yyyy-MM-dd HH:mm")), s.normal());
    s.text(QStringLiteral("Поверитель: %1").arg(c.operatorName), s.normal());
    s.text(QStringLiteral("Условия: температура %1, давление %2, влажность %3")
               .arg(c.temperature, c.pressure, c.humidity),
           s.normal());
}

void signatures(Sheet& s) {
    s.gap(2);
    s.text("Поверитель  ____________________  /____________________/", s.normal());
    s.gap(1);
    s.text("Дата  ____________________", s.normal());
}

const PointResult* find(const std::vector<PointResult>& results, int point, bool after) {
    for (const PointResult& r : results)
        if (r.point == point && r.afterAdjustment == after) return &r;
    return nullptr;
}

QString readingText(const PointResult* r, Unit unit) {
    if (!r) return "-";
    if (r->status != PointStatus::Done) return QString::fromUtf8(statusText(r->status));
    return num(r->averageLel, 2) + " %НКПР" +
           (unit == Unit::VolumePercent ? " (" + num(r->averageUnit, 3) + " % об.)" : QString());
}

}  // namespace

QString protocolNumber(const QString& station, int year, int sequence) {
    return QStringLiteral("%1-%2-%3").arg(station).arg(year).arg(sequence);
}

QByteArray protocolPdf(const ProtocolData& d, QString* error) {
    if (!ready(error)) return {};
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    {
        auto writer = archivalWriter(buffer, "Протокол поверки № " + d.number);
        Sheet s(*writer);
        if (!s.ok()) {
            *error = "Протокол: PDF не открыт для записи";
            return {};
        }
        s.text("Протокол поверки № " + d.number, s.title(), Qt::AlignHCenter);
        s.gap();
        header(s, d.lab, d.station, d.conditions, d.date);
        s.gap();
        const AnalyzerInfo& a = d.analyzer;
        s.text(QStringLiteral("Газоанализатор ZTA-K7, заводской № %1, сетевой № %2, газ: %3, "
                              "диапазон %4 %5")
                   .arg(a.factoryNumber)
                   .arg(a.networkNumber)
                   .arg(gasName(a.gasCode), num(a.range, 2), QString::fromUtf8(unitText(a.unit))),
               s.normal());
        s.text(QStringLiteral("Программное обеспечение: версия %1, идентификатор %2")
                   .arg(QString::fromStdString(a.softwareVersion),
                        QString::fromStdString(a.softwareId)),
               s.normal());
        s.text(QStringLiteral("Методика: %1, версия %2")
                   .arg(QString::fromStdString(d.method.name))
                   .arg(d.method.version),
               s.normal());
        s.gap();
        s.text("Поверочные газовые смеси", s.bold());
        std::vector<QStringList> cylinders;
        for (size_t i = 0; i < d.cylinders.size(); ++i) {
            const Cylinder& c = d.cylinders[i];
            cylinders.push_back(
                {QString::number(i + 1), QString::fromStdString(c.number),
                 QString::fromStdString(c.certificate),
                 num(c.certified, 3) + " " + QString::fromUtf8(unitText(c.unit)),
                 "±" + num(c.uncertainty.value, 3) +
                     (c.uncertainty.relative ? " %" : " " + QString::fromUtf8(unitText(c.unit))),
                 date(c.expires)});
        }
        s.table({"Точка", "Баллон", "Паспорт", "Значение", "Неопределённость", "Годен до"},
                cylinders, {0.08, 0.16, 0.2, 0.2, 0.2, 0.16});
        s.gap();
        s.text("Результаты по точкам", s.bold());
        std::vector<QStringList> points;
        for (size_t i = 0; i < d.method.points.size(); ++i) {
            const MethodPoint& p = d.method.points[i];
            const PointResult* before = find(d.results, int(i), false);
            const PointResult* after = find(d.results, int(i), true);
            const PointResult* last = after ? after : before;
            const bool measured = last && last->status == PointStatus::Done;
            points.push_back(
                {QString::number(i + 1), num(p.nominalPercent, 0) + " % диап.",
                 last ? num(last->certifiedLel, 2) : "-", readingText(before, a.unit),
                 readingText(after, a.unit), measured ? num(last->error.errorLel, 2) : "-",
                 measured ? "±" + num(last->error.limitLel, 2) : "-",
                 measured ? (last->error.pass ? "соответствует" : "не соответствует")
                          : (last ? QString::fromUtf8(statusText(last->status)) : "не измерена")});
        }
        s.table({"Точка", "Номинал", "Аттестовано, %НКПР", "До регулировки", "После регулировки",
                 "Погрешность, %НКПР", "Предел", "Вывод"},
                points, {0.07, 0.1, 0.12, 0.16, 0.16, 0.13, 0.1, 0.16});
        s.gap();
        const PointResult* timed = find(d.results, d.method.t90Point, false);
        s.text(QStringLiteral("Время установления t0,9: %1 с при пределе %2 с")
                   .arg(timed ? num(timed->t90, 1) : "-", num(d.method.t90LimitS, 1)),
               s.normal());
        if (d.method.checkThresholds) {
            for (int relay = 1; relay <= 2; ++relay) {
                const int threshold = relay == 1 ? a.threshold1 : a.threshold2;
                std::optional<double> trip;
                for (const PointResult& r : d.results)
                    if (!r.afterAdjustment && !trip)
                        trip = relay == 1 ? r.relay1Trip : r.relay2Trip;
                s.text(QStringLiteral("Порог %1: %2 %НКПР, срабатывание при %3 %НКПР (допуск ±%4)")
                           .arg(relay)
                           .arg(threshold)
                           .arg(num(trip, 1), num(d.method.thresholdToleranceLel, 1)),
                       s.normal());
            }
        }
        if (d.stopped) s.text("Поверка остановлена до завершения.", s.normal());
        s.gap();
        s.text(QStringLiteral("Заключение: %1").arg(d.verdict.pass ? "годен" : "не годен"),
               s.title());
        for (const std::string& item : d.verdict.failed)
            s.text("- " + QString::fromStdString(item), s.normal());
        signatures(s);
    }
    return buffer.data();
}

QByteArray summaryPdf(const SummaryData& d, QString* error) {
    if (!ready(error)) return {};
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    {
        auto writer = archivalWriter(buffer, "Сводка поверки");
        Sheet s(*writer);
        if (!s.ok()) {
            *error = "Сводка: PDF не открыт для записи";
            return {};
        }
        s.text("Сводка поверки", s.title(), Qt::AlignHCenter);
        s.gap();
        header(s, d.lab, d.station, d.conditions, d.date);
        s.text(QStringLiteral("Методика: %1, версия %2")
                   .arg(QString::fromStdString(d.methodName.toStdString()))
                   .arg(d.methodVersion),
               s.normal());
        s.gap();
        std::vector<QStringList> rows;
        for (const SummaryLine& l : d.lines) {
            QStringList failed;
            for (const std::string& f : l.verdict.failed) failed << QString::fromStdString(f);
            rows.push_back({l.number, QString::number(l.analyzer.factoryNumber),
                            QString::number(l.analyzer.networkNumber),
                            l.verdict.pass ? "годен" : "не годен", failed.join("; ")});
        }
        s.table({"Протокол", "Заводской №", "Сетевой №", "Заключение", "Не выполнено"}, rows,
                {0.2, 0.13, 0.11, 0.13, 0.43});
        signatures(s);
    }
    return buffer.data();
}

namespace {
QString csvField(const QString& text) {
    QString v = text;
    bool isNumber = false;
    v.toDouble(&isNumber);
    if (!isNumber && !v.isEmpty() && QString("=+-@\t\r").contains(v.front())) v.prepend('\'');
    if (v.contains(QRegularExpression("[\";\\n\\r]"))) v = '"' + v.replace("\"", "\"\"") + '"';
    return v;
}
}  // namespace

QByteArray summaryCsv(const SummaryData& d) {
    QString out = "протокол;заводской номер;сетевой номер;заключение;не выполнено\n";
    for (const SummaryLine& l : d.lines) {
        QStringList failed;
        for (const std::string& f : l.verdict.failed) failed << QString::fromStdString(f);
        out += QStringList{csvField(l.number), QString::number(l.analyzer.factoryNumber),
                           QString::number(l.analyzer.networkNumber),
                           l.verdict.pass ? "годен" : "не годен", csvField(failed.join("; "))}
                   .join(';') +
               "\n";
    }
    return out.toUtf8();
}

}  // namespace zta::verify

// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/bench_file.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>
#include <cmath>
#include <iterator>

#include "link/regmap.h"
#include "ui/bus_overview_model.h"
#include "ui/file_io.h"

namespace zta {

namespace {

constexpr auto kFormat = "zta-k7 bench";
constexpr int kVersion = 1;
constexpr int kMaxWindows = 50;

QJsonObject geometryObject(const QRect& r) {
    return {{"x", r.x()}, {"y", r.y()}, {"width", r.width()}, {"height", r.height()}};
}

// Reads the fields of one JSON object; the first wrong field leaves its message in `error`.
class Fields {
  public:
    Fields(const QJsonObject& object, QString where, QString* error)
        : object_(object), where_(std::move(where)), error_(error) {}

    bool ok() const { return ok_; }

    void text(const char* key, QString& out) {
        const QJsonValue v = object_.value(QLatin1String(key));
        if (v.isUndefined()) return;
        if (!v.isString()) return fail(key, QStringLiteral("должно быть текстом"));
        out = v.toString();
    }
    void flag(const char* key, bool& out) {
        const QJsonValue v = object_.value(QLatin1String(key));
        if (v.isUndefined()) return;
        if (!v.isBool()) return fail(key, QStringLiteral("должно быть true или false"));
        out = v.toBool();
    }
    void number(const char* key, double& out, double low, double high) {
        const QJsonValue v = object_.value(QLatin1String(key));
        if (v.isUndefined()) return;
        if (!v.isDouble() || v.toDouble() < low || v.toDouble() > high)
            return fail(key, QStringLiteral("должно быть числом от %1 до %2").arg(low).arg(high));
        out = v.toDouble();
    }
    void integer(const char* key, int& out, int low, int high) {
        const QJsonValue v = object_.value(QLatin1String(key));
        if (v.isUndefined()) return;
        const double d = v.toDouble();
        if (!v.isDouble() || d != std::floor(d) || d < low || d > high)
            return fail(key, QStringLiteral("должно быть целым от %1 до %2").arg(low).arg(high));
        out = int(d);
    }
    void geometry(QRect& out) {
        int x = 0, y = 0, w = 0, h = 0;
        if (!object_.contains(QLatin1String("width"))) return;
        integer("x", x, -100000, 100000);
        integer("y", y, -100000, 100000);
        integer("width", w, 1, 100000);
        integer("height", h, 1, 100000);
        if (ok_) out = QRect(x, y, w, h);
    }
    void fail(const char* key, const QString& what) {
        if (!ok_) return;
        ok_ = false;
        if (error_) *error_ = QStringLiteral("%1«%2» %3").arg(where_, QLatin1String(key), what);
    }

  private:
    const QJsonObject& object_;
    QString where_;
    QString* error_;
    bool ok_ = true;
};

// The bench tools' keys: "fastPolling" and the "overview" object.
void putToolKeys(const BenchSettings& b, QJsonObject& root) {
    root.insert(QLatin1String("fastPolling"), b.fastPolling);
    root.insert(QLatin1String("overview"),
                QJsonObject{{"open", b.overview.open},
                            {"size", b.overview.size},
                            {"sortColumn", b.overview.sortColumn},
                            {"sortDescending", b.overview.sortDescending},
                            {"trend", b.overview.trend}});
}

bool takeToolKeys(const QJsonObject& root, BenchSettings& b, QString* error) {
    Fields top(root, QString(), error);
    top.flag("fastPolling", b.fastPolling);
    const QJsonValue overview = root.value(QLatin1String("overview"));
    if (!overview.isUndefined() && !overview.isObject())
        top.fail("overview", QStringLiteral("должно быть объектом { }"));
    if (!top.ok()) return false;
    const QJsonObject object = overview.toObject();
    Fields f(object, QStringLiteral("overview: "), error);
    f.flag("open", b.overview.open);
    f.integer("size", b.overview.size, 0, 100000);
    f.integer("sortColumn", b.overview.sortColumn, -1, BusOverviewModel::ColumnCount - 1);
    f.flag("sortDescending", b.overview.sortDescending);
    f.flag("trend", b.overview.trend);
    return f.ok();
}

}  // namespace

QByteArray benchToText(const BenchSettings& b) {
    QJsonObject main{{"maximized", b.mainMaximized}};
    if (!b.mainGeometry.isEmpty()) {
        const QJsonObject g = geometryObject(b.mainGeometry);
        for (auto it = g.begin(); it != g.end(); ++it) main.insert(it.key(), it.value());
    }
    QJsonArray windows;
    for (const BenchSettings::Window& w : b.windows) {
        QJsonObject o{{"networkNumber", w.networkNumber},
                      {"timerPeriod", w.timerPeriod},
                      {"minimized", w.minimized},
                      {"maximized", w.maximized},
                      {"trend", w.trendShown},
                      {"trendSpanSeconds", w.trendSpanSeconds}};
        if (!w.geometry.isEmpty()) {
            const QJsonObject g = geometryObject(w.geometry);
            for (auto it = g.begin(); it != g.end(); ++it) o.insert(it.key(), it.value());
        }
        windows.append(o);
    }
    QJsonObject root{
        {"format", QLatin1String(kFormat)},
        {"version", kVersion},
        {"port", b.port},
        {"baudRate", int(b.baudRate)},
        {"recordFolder", b.recordFolder},
        {"csvLog", b.csvLog},
        {"commandExpirySeconds", b.commandExpirySeconds},
        {"netTimeoutMs", b.netTimeoutMs},
        {"settle", QJsonObject{{"bandPercent", b.settleBandPercent}, {"seconds", b.settleSeconds}}},
        {"mainWindow", main},
        {"windows", windows},
    };
    putToolKeys(b, root);
    return QJsonDocument(root).toJson(QJsonDocument::Indented);
}

std::optional<BenchSettings> benchFromText(const QByteArray& text, QString* error) {
    QJsonParseError parse;
    const QJsonDocument doc = QJsonDocument::fromJson(text, &parse);
    if (parse.error != QJsonParseError::NoError) {
        const QByteArray before = text.left(parse.offset);
        const int line = int(before.count('\n')) + 1;
        const int column = int(parse.offset - (before.lastIndexOf('\n') + 1)) + 1;
        if (error)
            *error = QStringLiteral("строка %1, позиция %2: запись повреждена (%3)")
                         .arg(line)
                         .arg(column)
                         .arg(parse.errorString());
        return std::nullopt;
    }
    const QJsonObject root = doc.object();
    if (!doc.isObject() ||
        root.value(QLatin1String("format")).toString() != QLatin1String(kFormat)) {
        if (error) *error = QStringLiteral("это не файл стенда");
        return std::nullopt;
    }
    if (root.value(QLatin1String("version")).toInt() != kVersion) {
        if (error)
            *error = QStringLiteral("версия файла %1 не поддерживается (поддерживается %2)")
                         .arg(root.value(QLatin1String("version")).toVariant().toString())
                         .arg(kVersion);
        return std::nullopt;
    }

    BenchSettings b;
    Fields top(root, QString(), error);
    top.text("port", b.port);
    top.text("recordFolder", b.recordFolder);
    top.flag("csvLog", b.csvLog);
    top.integer("commandExpirySeconds", b.commandExpirySeconds, 0, 86400);
    top.integer("netTimeoutMs", b.netTimeoutMs, 0, 60000);
    int baud = int(b.baudRate);
    top.integer("baudRate", baud, 0, 1000000);
    if (top.ok() && std::find(std::begin(kBaudRates), std::end(kBaudRates), unsigned(baud)) ==
                        std::end(kBaudRates))
        top.fail("baudRate",
                 QStringLiteral("%1: скорость не из 1200, 2400, 4800, 9600, 19200").arg(baud));
    b.baudRate = unsigned(baud);
    for (const char* key : {"settle", "mainWindow"})
        if (root.contains(QLatin1String(key)) && !root.value(QLatin1String(key)).isObject())
            top.fail(key, QStringLiteral("должно быть объектом { }"));
    if (!top.ok()) return std::nullopt;

    const QJsonObject settleObject = root.value(QLatin1String("settle")).toObject();
    Fields settle(settleObject, QStringLiteral("settle: "), error);
    settle.number("bandPercent", b.settleBandPercent, 0.1, 50.0);
    settle.integer("seconds", b.settleSeconds, 1, 3600);
    if (!settle.ok()) return std::nullopt;

    const QJsonObject mainObject = root.value(QLatin1String("mainWindow")).toObject();
    Fields main(mainObject, QStringLiteral("mainWindow: "), error);
    main.flag("maximized", b.mainMaximized);
    main.geometry(b.mainGeometry);
    if (!main.ok()) return std::nullopt;
    if (!takeToolKeys(root, b, error)) return std::nullopt;

    const QJsonValue windows = root.value(QLatin1String("windows"));
    if (!windows.isUndefined() && !windows.isArray()) {
        top.fail("windows", QStringLiteral("должно быть списком [ ]"));
        return std::nullopt;
    }
    const QJsonArray list = windows.toArray();
    if (list.size() > kMaxWindows) {
        if (error)
            *error = QStringLiteral("окон %1, а открыть больше пятидесяти нельзя").arg(list.size());
        return std::nullopt;
    }
    for (qsizetype i = 0; i < list.size(); ++i) {
        const QString where = QStringLiteral("окно %1: ").arg(i + 1);
        if (!list[i].isObject()) {
            if (error) *error = where + QStringLiteral("должно быть объектом { }");
            return std::nullopt;
        }
        const QJsonObject o = list[i].toObject();
        BenchSettings::Window w;
        Fields f(o, where, error);
        if (!o.contains(QLatin1String("networkNumber")))
            f.fail("networkNumber", QStringLiteral("не указан"));
        f.integer("networkNumber", w.networkNumber, 0, 255);
        f.integer("timerPeriod", w.timerPeriod, 0, 2147483);
        f.flag("minimized", w.minimized);
        f.flag("maximized", w.maximized);
        f.flag("trend", w.trendShown);
        f.integer("trendSpanSeconds", w.trendSpanSeconds, 0, 24 * 3600);
        f.geometry(w.geometry);
        if (!f.ok()) return std::nullopt;
        b.windows.append(w);
    }
    return b;
}

std::optional<BenchSettings> readBenchFile(const QString& path, QString* error) {
    const QString name = QDir::toNativeSeparators(path);
    // A bench file is a few kilobytes; a device, a FIFO or anything far larger is not one, and
    // is refused before it can hang the start or fill the memory.
    constexpr qint64 kLimit = 1024 * 1024;
    QByteArray text;
    bool tooLarge = false;
    QString reason;
    switch (readRegularFile(path, kLimit, &text, &tooLarge, &reason)) {
        case ReadStatus::Read:
            break;
        case ReadStatus::NotAFile:
            if (error)
                *error =
                    QStringLiteral("Файл стенда %1 не прочитан: это не обычный файл").arg(name);
            return std::nullopt;
        case ReadStatus::Missing:
        case ReadStatus::Failed:
            if (error) *error = QStringLiteral("Файл стенда %1 не открыт: %2").arg(name, reason);
            return std::nullopt;
    }
    if (tooLarge) {
        if (error)
            *error = QStringLiteral("Файл стенда %1 не прочитан: это не файл стенда").arg(name);
        return std::nullopt;
    }
    auto bench = benchFromText(text, &reason);
    if (!bench && error)
        *error = QStringLiteral("Файл стенда %1 не прочитан: %2").arg(name, reason);
    return bench;
}

bool writeBenchFile(const QString& path, const BenchSettings& bench, QString* error) {
    // Written aside and renamed, so a failed save leaves the previous file whole.
    QString reason;
    if (saveWholeFile(path, benchToText(bench), &reason)) {
        syncFolderOf(path);  // the rename reaches the disk with its folder
        return true;
    }
    if (error)
        *error = QStringLiteral("Файл стенда %1 не записан: %2")
                     .arg(QDir::toNativeSeparators(path), reason);
    return false;
}

}  // namespace zta

// SPDX-License-Identifier: GPL-3.0-or-later
#include "device/record_writer.h"

#include <QDir>
#include <QFileInfo>

#include "device/record_file.h"
#include "ui/file_io.h"

namespace zta {

namespace {

constexpr int kSyncIntervalMs = 1000;

QString folderOf(const QString& path) { return QFileInfo(path).absolutePath(); }

}  // namespace

RecordWriter::RecordWriter(Report report) : report_(std::move(report)) {
    syncTimer_.setSingleShot(true);
    syncTimer_.setInterval(kSyncIntervalMs);
    QObject::connect(&syncTimer_, &QTimer::timeout, [this] { syncNow(); });
}

RecordWriter::~RecordWriter() { syncNow(); }

bool RecordWriter::append(const QString& path, const QByteArray& line) {
    if (!appendRecordLine(path, line, &lastReason_)) {
        failed(path, lastReason_);
        return false;
    }
    succeeded(path);
    unsynced_.insert(path);
    if (!syncTimer_.isActive()) syncTimer_.start();
    return true;
}

bool RecordWriter::append(const QString& path, const QByteArray& start, const QByteArray& line) {
    // A size of 0 for a missing file too: the first line of a new file carries its start.
    if (QFileInfo(path).size() == 0) return append(path, start + line);
    return append(path, line);
}

void RecordWriter::syncNow() {
    syncTimer_.stop();
    for (const QString& path : std::as_const(unsynced_)) syncToDisk(path);
    unsynced_.clear();
}

QString RecordWriter::failureText(const QString& path, const QString& reason) {
    return QStringLiteral(
               "Строка не записана в файл %1: %2.\nЗапись продолжается: каждая следующая строка "
               "пробует снова. Пока запись в папку %3 не удастся, это сообщение не повторяется.")
        .arg(QDir::toNativeSeparators(path), reason, QDir::toNativeSeparators(folderOf(path)));
}

void RecordWriter::failed(const QString& path, const QString& reason) {
    failedPaths_.insert(path);
    const QString key = folderOf(path) + QLatin1Char('\n') + reason;
    if (reported_.contains(key)) return;
    reported_.insert(key);
    if (report_) report_(failureText(path, reason));
}

void RecordWriter::succeeded(const QString& path) {
    if (!failedPaths_.remove(path)) return;
    const QString folder = folderOf(path);
    for (const QString& p : std::as_const(failedPaths_))
        if (folderOf(p) == folder) return;
    const QString prefix = folder + QLatin1Char('\n');
    for (auto it = reported_.begin(); it != reported_.end();)
        it = it->startsWith(prefix) ? reported_.erase(it) : std::next(it);
}

}  // namespace zta

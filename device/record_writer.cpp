// SPDX-License-Identifier: GPL-3.0-or-later
#include "device/record_writer.h"

#include <QDir>
#include <QFileInfo>

#include "device/record_file.h"

namespace zta {

namespace {

QString folderOf(const QString& path) { return QFileInfo(path).absolutePath(); }

}  // namespace

bool RecordWriter::append(const QString& path, const QByteArray& line) {
    QString error;
    if (!appendRecordLine(path, line, &error)) {
        failed(path, error);
        return false;
    }
    succeeded(path);
    return true;
}

bool RecordWriter::append(const QString& path, const QByteArray& start, const QByteArray& line) {
    // A size of 0 for a missing file too: the first line of a new file carries its start.
    if (QFileInfo(path).size() == 0) return append(path, start + line);
    return append(path, line);
}

QString RecordWriter::failureText(const QString& path, const QString& reason) {
    return QStringLiteral(
               "Файл %1 не может быть открыт или создан.\n%2\nПоказания не записаны. "
               "Пока запись в папку %3 не удастся, это сообщение не повторяется.")
        .arg(QDir::toNativeSeparators(path), reason, QDir::toNativeSeparators(folderOf(path)));
}

void RecordWriter::failed(const QString& path, const QString& reason) {
    failedPaths_.insert(path);
    const QString folder = folderOf(path);
    if (reportedFolders_.contains(folder)) return;
    reportedFolders_.insert(folder);
    if (report_) report_(failureText(path, reason));
}

void RecordWriter::succeeded(const QString& path) {
    if (!failedPaths_.remove(path)) return;
    const QString folder = folderOf(path);
    for (const QString& p : std::as_const(failedPaths_))
        if (folderOf(p) == folder) return;
    reportedFolders_.remove(folder);
}

}  // namespace zta

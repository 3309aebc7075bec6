// SPDX-License-Identifier: GPL-3.0-or-later
#include "device/record_writer.h"

#include <QDir>
#include <QFileInfo>

#include "device/record_file.h"

namespace zta {

namespace {

QString FolderOf(const QString& path) {
    return QFileInfo(path).absolutePath();
}

}  // namespace

bool RecordWriter::Append(const QString& path, const QByteArray& line) {
    QString error;
    if (!AppendRecordLine(path, line, &error)) {
        Failed(path, error);
        return false;
    }
    Succeeded(path);
    return true;
}

bool RecordWriter::Append(const QString& path, const QByteArray& start, const QByteArray& line) {
    // A size of 0 for a missing file too: the first line of a new file carries its start.
    if (QFileInfo(path).size() == 0) return Append(path, start + line);
    return Append(path, line);
}

QString RecordWriter::FailureText(const QString& path, const QString& reason) {
    return QStringLiteral("Файл %1 не может быть открыт или создан.\n%2\nПоказания не записаны. "
                          "Пока запись в папку %3 не удастся, это сообщение не повторяется.")
        .arg(QDir::toNativeSeparators(path), reason,
             QDir::toNativeSeparators(FolderOf(path)));
}

void RecordWriter::Failed(const QString& path, const QString& reason) {
    failedPaths_.insert(path);
    const QString folder = FolderOf(path);
    if (reportedFolders_.contains(folder)) return;
    reportedFolders_.insert(folder);
    if (report_) report_(FailureText(path, reason));
}

void RecordWriter::Succeeded(const QString& path) {
    if (!failedPaths_.remove(path)) return;
    const QString folder = FolderOf(path);
    for (const QString& p : std::as_const(failedPaths_))
        if (FolderOf(p) == folder) return;
    reportedFolders_.remove(folder);
}

}  // namespace zta

// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QSet>
#include <QString>
#include <functional>

namespace zta {

// Every line of the station's record files and logs goes out through one writer: one append
// per line, and one message for a folder that cannot be written, however many files and
// windows fail in it, until every file that failed there has been written again. A failure
// costs only its own line: the other files go on being written.
class RecordWriter {
  public:
    using Report = std::function<void(const QString& text)>;

    explicit RecordWriter(Report report = {}) : report_(std::move(report)) {}
    void setReport(Report report) { report_ = std::move(report); }

    // Appends `line` to `path` (created when missing).
    bool append(const QString& path, const QByteArray& line);
    // The same, with `start` written before the line when the file is missing or empty.
    bool append(const QString& path, const QByteArray& start, const QByteArray& line);

    static QString failureText(const QString& path, const QString& reason);

  private:
    void failed(const QString& path, const QString& reason);
    void succeeded(const QString& path);

    Report report_;
    QSet<QString> failedPaths_;
    QSet<QString> reportedFolders_;
};

}  // namespace zta

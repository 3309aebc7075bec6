// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QSet>
#include <QString>
#include <QTimer>
#include <functional>

namespace zta {

// Every line of the station's record files and logs goes out through one writer: one append
// per line, a short write undone, and one message for a folder and a cause, however many
// files and windows fail there, until every file that failed there has been written again. A
// failure costs only its own line: the other files go on being written, and the next line
// tries again. What was written reaches the disk within a second.
class RecordWriter {
  public:
    // Told to the operator without waiting for an answer: a record timer goes on meanwhile.
    using Report = std::function<void(const QString& text)>;

    explicit RecordWriter(Report report = {});
    ~RecordWriter();
    RecordWriter(const RecordWriter&) = delete;
    RecordWriter& operator=(const RecordWriter&) = delete;
    void setReport(Report report) { report_ = std::move(report); }

    // Appends `line` to `path` (created when missing, its folder too).
    bool append(const QString& path, const QByteArray& line);
    // The same, with `start` written before the line when the file is missing or empty.
    bool append(const QString& path, const QByteArray& start, const QByteArray& line);
    // The reason of the last failed append.
    QString lastReason() const { return lastReason_; }

    // Hands the files written since the last time to the disk (also once a second by itself).
    void syncNow();

    static QString failureText(const QString& path, const QString& reason);

  private:
    void failed(const QString& path, const QString& reason);
    void succeeded(const QString& path);

    Report report_;
    QSet<QString> failedPaths_;
    QSet<QString> reported_;  // folder and cause
    QSet<QString> unsynced_;
    QTimer syncTimer_;
    QString lastReason_;
};

}  // namespace zta

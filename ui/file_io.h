// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>
#include <functional>

namespace zta {

// Appends `bytes` to the regular file `path` (created when missing) in one write. A write
// cut short (a full disk, a file size limit) is undone: the file is cut back to its old length,
// so no half line is left for the next one to glue onto. False with the reason in the
// operator's words (Russian) when nothing was added.
bool appendToFile(const QString& path, const QByteArray& bytes, QString* reason = nullptr);

// Writes `bytes` as the whole new content of `path` through a file aside that replaces it only
// once complete: a failed save (a full disk, /dev/full) keeps the old file. False with the
// reason in the operator's words.
bool saveWholeFile(const QString& path, const QByteArray& bytes, QString* reason = nullptr);

// The reason for a system error number in the operator's words.
QString systemReason(int error);

// Hands what the system holds of the file or folder `path` to the disk (a power cut keeps
// it). False when that could not be done.
bool syncToDisk(const QString& path);
// The folder of `filePath`, after a rename in it: the new name is on the disk too.
bool syncFolderOf(const QString& filePath);
// Sees every path handed to the disk (tests); empty to stop.
void setSyncObserver(std::function<void(const QString& path)> observer);

enum class ReadStatus { Read, Missing, NotAFile, Failed };

// Reads at most `limit` bytes of the regular file `path` into `bytes`; `truncated` tells
// whether there was more. A device, a FIFO or a folder is refused before anything is read, so
// it can neither hang nor fill the memory. `reason` gets the operator's words for a failure.
ReadStatus readRegularFile(const QString& path, qint64 limit, QByteArray* bytes,
                           bool* truncated = nullptr, QString* reason = nullptr);

}  // namespace zta

// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/file_io.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QSaveFile>
#include <cerrno>

#ifdef Q_OS_WIN
#include <io.h>
#else
#include "link/file_ops.h"
#endif

namespace zta {

namespace {

QMutex g_observerLock;
std::function<void(const QString&)> g_syncObserver;

void observeSync(const QString& path) {
    QMutexLocker lock(&g_observerLock);
    if (g_syncObserver) g_syncObserver(path);
}

QString notAFileReason() { return QStringLiteral("это не обычный файл"); }

}  // namespace

QString systemReason(int error) {
    switch (error) {
        case ENOSPC:
            return QStringLiteral("Нет места на диске");
#ifdef EDQUOT
        case EDQUOT:
            return QStringLiteral("Превышена дисковая квота");
#endif
        case EROFS:
            return QStringLiteral("Файловая система доступна только для чтения");
        case EACCES:
        case EPERM:
            return QStringLiteral("Нет доступа");
        case ENOENT:
            return QStringLiteral("Нет такого файла или папки");
        case ENOTDIR:
            return QStringLiteral("Часть пути не является папкой");
        case EISDIR:
            return QStringLiteral("На этом месте папка, а не файл");
        case EFBIG:
            return QStringLiteral("Файл слишком велик");
        case EIO:
            return QStringLiteral("Ошибка ввода-вывода");
        case EMFILE:
        case ENFILE:
            return QStringLiteral("Открыто слишком много файлов");
        case ENAMETOOLONG:
            return QStringLiteral("Слишком длинное имя файла");
        case ENXIO:
        case ENODEV:
            return QStringLiteral("Нет такого устройства");
        default:
            return QStringLiteral("Системная ошибка %1").arg(error);
    }
}

#ifndef Q_OS_WIN

namespace {

QString reasonOf(int error) {
    return error == fileops::kNotRegularFile ? notAFileReason() : systemReason(error);
}

}  // namespace

bool appendToFile(const QString& path, const QByteArray& bytes, QString* reason) {
    const int error = fileops::appendWhole(QFile::encodeName(path).constData(), bytes.constData(),
                                           std::size_t(bytes.size()));
    if (error != 0 && reason) *reason = reasonOf(error);
    return error == 0;
}

bool syncToDisk(const QString& path) {
    observeSync(path);
    return fileops::syncPath(QFile::encodeName(path).constData()) == 0;
}

ReadStatus readRegularFile(const QString& path, qint64 limit, QByteArray* bytes, bool* truncated,
                           QString* reason) {
    std::string data;
    bool more = false;
    const int error = fileops::readRegular(QFile::encodeName(path).constData(), limit, data, more);
    if (error != 0) {
        if (reason) *reason = reasonOf(error);
        if (error == fileops::kNotRegularFile) return ReadStatus::NotAFile;
        return error == ENOENT ? ReadStatus::Missing : ReadStatus::Failed;
    }
    if (truncated) *truncated = more;
    if (bytes) *bytes = QByteArray(data.data(), qsizetype(data.size()));
    return ReadStatus::Read;
}

#else

bool appendToFile(const QString& path, const QByteArray& bytes, QString* reason) {
    if (QFileInfo(path).exists() && !QFileInfo(path).isFile()) {
        if (reason) *reason = notAFileReason();
        return false;
    }
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered)) {
        if (reason) *reason = file.errorString();
        return false;
    }
    const qint64 oldSize = file.size();
    if (file.write(bytes) == bytes.size()) return true;
    if (reason) *reason = file.errorString();
    file.resize(oldSize);
    return false;
}

bool syncToDisk(const QString& path) {
    observeSync(path);
    if (!QFileInfo(path).isFile()) return true;  // folders are not synced on this system
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append)) return false;
    return ::_commit(file.handle()) == 0;
}

ReadStatus readRegularFile(const QString& path, qint64 limit, QByteArray* bytes, bool* truncated,
                           QString* reason) {
    const QFileInfo info(path);
    if (!info.exists()) return ReadStatus::Missing;
    if (!info.isFile()) {
        if (reason) *reason = notAFileReason();
        return ReadStatus::NotAFile;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (reason) *reason = file.errorString();
        return ReadStatus::Failed;
    }
    QByteArray data = file.read(limit + 1);
    if (truncated) *truncated = data.size() > limit;
    data.truncate(qsizetype(limit));
    if (bytes) *bytes = data;
    return ReadStatus::Read;
}

#endif

bool saveWholeFile(const QString& path, const QByteArray& bytes, QString* reason) {
    // A device or a FIFO under the name would be replaced by the rename, or hang the write.
    const QFileInfo existing(path);
    if (existing.exists() && !existing.isFile()) {
        if (reason) *reason = notAFileReason();
        return false;
    }
    QSaveFile file(path);
    errno = 0;
    if (!file.open(QIODevice::WriteOnly)) {
        if (reason) *reason = errno != 0 ? systemReason(errno) : file.errorString();
        return false;
    }
#ifndef Q_OS_WIN
    // Written straight to the file aside, so that a failure keeps its system reason.
    if (const int error =
            fileops::writeAll(file.handle(), bytes.constData(), std::size_t(bytes.size()))) {
        if (reason) *reason = systemReason(error);
        file.cancelWriting();
        return false;
    }
#else
    if (file.write(bytes) != bytes.size()) {
        if (reason) *reason = file.errorString();
        file.cancelWriting();
        return false;
    }
#endif
    errno = 0;
    if (!file.commit()) {
        if (reason)
            *reason = file.error() == QFileDevice::ResourceError ? systemReason(ENOSPC)
                      : errno != 0                               ? systemReason(errno)
                                                                 : file.errorString();
        return false;
    }
    return true;
}

bool syncFolderOf(const QString& filePath) {
    return syncToDisk(QFileInfo(filePath).absolutePath());
}

void setSyncObserver(std::function<void(const QString&)> observer) {
    QMutexLocker lock(&g_observerLock);
    g_syncObserver = std::move(observer);
}

}  // namespace zta

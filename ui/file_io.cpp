// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/file_io.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QSaveFile>
#include <algorithm>
#include <cerrno>

#ifdef Q_OS_WIN
#include <io.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
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

bool appendToFile(const QString& path, const QByteArray& bytes, QString* reason) {
    const QByteArray name = QFile::encodeName(path);
    // Not blocking: a FIFO put where a record file should be must not hang the station.
    const int fd = ::open(name.constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NONBLOCK,
                          0666);
    if (fd < 0) {
        if (reason) *reason = systemReason(errno);
        return false;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        if (reason) *reason = notAFileReason();
        return false;
    }
    const off_t oldSize = st.st_size;
    qsizetype done = 0;
    int error = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            error = n < 0 ? errno : EIO;
            break;
        }
        done += n;
    }
    if (error != 0 && done > 0) {
        // The part that went out is taken back: the next line starts on a line of its own.
        while (::ftruncate(fd, oldSize) != 0 && errno == EINTR) {
        }
    }
    if (::close(fd) != 0 && error == 0 && errno != EINTR) error = errno;
    if (error == 0) return true;
    if (reason) *reason = systemReason(error);
    return false;
}

bool syncToDisk(const QString& path) {
    observeSync(path);
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return false;
    const bool ok = ::fsync(fd) == 0;
    ::close(fd);
    return ok;
}

ReadStatus readRegularFile(const QString& path, qint64 limit, QByteArray* bytes, bool* truncated,
                           QString* reason) {
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        const int error = errno;
        if (reason) *reason = systemReason(error);
        return error == ENOENT ? ReadStatus::Missing : ReadStatus::Failed;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        if (reason) *reason = notAFileReason();
        return ReadStatus::NotAFile;
    }
    // One byte past the limit tells whether there is more. The size is not trusted: files
    // under /proc say 0 and hold more.
    QByteArray data;
    char chunk[65536];
    int error = 0;
    while (data.size() <= limit) {
        const qint64 want = std::min<qint64>(qint64(sizeof chunk), limit + 1 - data.size());
        const ssize_t n = ::read(fd, chunk, size_t(want));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) error = errno;
        if (n <= 0) break;
        data.append(chunk, n);
    }
    ::close(fd);
    if (error != 0) {
        if (reason) *reason = systemReason(error);
        return ReadStatus::Failed;
    }
    if (truncated) *truncated = data.size() > limit;
    if (data.size() > limit) data.truncate(qsizetype(limit));
    if (bytes) *bytes = data;
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
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(file.handle(), bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (reason) *reason = systemReason(n < 0 ? errno : EIO);
            file.cancelWriting();
            return false;
        }
        done += n;
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

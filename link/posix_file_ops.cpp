// SPDX-License-Identifier: GPL-3.0-or-later
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "link/file_ops.h"

namespace zta::fileops {

namespace {

// Not blocking: a FIFO put where a file should be must not hang the caller. -1 with `error`.
int openRegular(const char* path, int flags, off_t* size, int& error) {
    const int fd = ::open(path, flags | O_CLOEXEC | O_NONBLOCK, 0666);
    if (fd < 0) {
        error = errno;
        return -1;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        error = kNotRegularFile;
        return -1;
    }
    if (size) *size = st.st_size;
    return fd;
}

int writeSome(int fd, const char* data, std::size_t size, std::size_t& done) {
    done = 0;
    while (done < size) {
        const ssize_t n = ::write(fd, data + done, size - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return n < 0 ? errno : EIO;
        done += std::size_t(n);
    }
    return 0;
}

}  // namespace

int writeAll(int fd, const char* data, std::size_t size) {
    std::size_t done = 0;
    return writeSome(fd, data, size, done);
}

int appendWhole(const char* path, const char* data, std::size_t size) {
    off_t oldSize = 0;
    int error = 0;
    const int fd = openRegular(path, O_WRONLY | O_APPEND | O_CREAT, &oldSize, error);
    if (fd < 0) return error;
    std::size_t done = 0;
    error = writeSome(fd, data, size, done);
    if (error != 0 && done > 0) {
        // The part that went out is taken back: the next line starts on a line of its own.
        while (::ftruncate(fd, oldSize) != 0 && errno == EINTR) {
        }
    }
    if (::close(fd) != 0 && error == 0 && errno != EINTR) error = errno;
    return error;
}

int syncPath(const char* path) {
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return errno;
    const int error = ::fsync(fd) == 0 ? 0 : errno;
    ::close(fd);
    return error;
}

int readRegular(const char* path, long long limit, std::string& out, bool& truncated) {
    int error = 0;
    const int fd = openRegular(path, O_RDONLY, nullptr, error);
    if (fd < 0) return error;
    // One byte past the limit tells whether there is more. The size is not trusted: files
    // under /proc say 0 and hold more.
    out.clear();
    char chunk[65536];
    while ((long long)out.size() <= limit) {
        const long long want =
            std::min<long long>((long long)sizeof chunk, limit + 1 - (long long)out.size());
        const ssize_t n = ::read(fd, chunk, std::size_t(want));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) error = errno;
        if (n <= 0) break;
        out.append(chunk, std::size_t(n));
    }
    ::close(fd);
    truncated = (long long)out.size() > limit;
    if (truncated) out.resize(std::size_t(limit));
    return error;
}

}  // namespace zta::fileops

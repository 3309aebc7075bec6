// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <string>

// Whole-line file writes on POSIX systems, where the system's error numbers say why a write
// failed. Each returns 0, the error number, or kNotRegularFile. Paths are in the system's
// encoding.
namespace zta::fileops {

inline constexpr int kNotRegularFile = -1;

// Appends all of `data` in one write to a regular file (made when missing); a write cut short
// is undone by cutting the file back to its old length. Never blocks on a FIFO.
int appendWhole(const char* path, const char* data, std::size_t size);
// Writes all of `data` to `fd`.
int writeAll(int fd, const char* data, std::size_t size);
// Hands a file or a folder to the disk.
int syncPath(const char* path);
// At most `limit` bytes of a regular file into `out`; `truncated` when there was more.
int readRegular(const char* path, long long limit, std::string& out, bool& truncated);

}  // namespace zta::fileops

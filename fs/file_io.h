#pragma once
// Reading and writing whole buffers through descriptors, restarting after signals.

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "fs/unique_fd.h"

namespace fennic::fs {

// open(2), restarted after EINTR; O_CLOEXEC is always added. Invalid with errno set on failure.
UniqueFd Open(const std::string& path, int flags, mode_t mode = 0);

// Writes every byte; 0 or the errno value.
int WriteAll(int fd, const void* data, size_t size);
// Reads until size bytes or the end; the count read, or -1 with errno set.
ssize_t ReadFull(int fd, void* buffer, size_t size);
// The same from offset, leaving the file position alone.
ssize_t ReadFullAt(int fd, void* buffer, size_t size, uint64_t offset);

// The whole content of a regular file no larger than maxSize; 0 or the errno value (EINVAL
// when it is not a regular file, EFBIG when it is larger).
int ReadWholeFile(const std::string& path, size_t maxSize, std::string& content);
// The same from an open descriptor, read from its position.
int ReadWholeFd(int fd, size_t maxSize, std::string& content);

}  // namespace fennic::fs

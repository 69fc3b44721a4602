#include "fs/unique_fd.h"

#include <cerrno>

namespace fennic::fs {

int UniqueFd::Close() noexcept {
    if (m_fd < 0) return 0;
    // Linux releases the descriptor even when close fails: never retried.
    const int rc = ::close(Release());
    return rc == 0 || errno == EINTR ? 0 : errno;
}

}  // namespace fennic::fs

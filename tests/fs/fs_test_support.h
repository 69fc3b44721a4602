#pragma once
// Reading a FIFO for the tests about local files.

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <thread>

#include "fs/file_io.h"

namespace fennic::test {

// Drains a FIFO on a thread of its own until Finish(), so a test never hangs when the writer
// it expects never opens the FIFO.
class FifoReader {
public:
    // Opens the FIFO without waiting for a writer.
    explicit FifoReader(const std::string& path) : m_thread([this, path] { Run(path); }) {}
    ~FifoReader() { Finish(); }
    FifoReader(const FifoReader&) = delete;
    FifoReader& operator=(const FifoReader&) = delete;

    // Call once the writer has finished (or never came): every byte that arrived.
    const std::string& Finish() {
        m_done = true;
        if (m_thread.joinable()) m_thread.join();
        return m_bytes;
    }

private:
    void Run(const std::string& path) {
        fs::UniqueFd fd = fs::Open(path, O_RDONLY | O_NONBLOCK);
        if (!fd) return;
        char buf[65536];
        for (;;) {
            const bool last = m_done;
            pollfd p{fd.Get(), POLLIN, 0};
            ::poll(&p, 1, last ? 0 : 20);
            ssize_t n;
            while ((n = ::read(fd.Get(), buf, sizeof buf)) > 0)
                m_bytes.append(buf, static_cast<size_t>(n));
            if (last) return;
            // Writer gone: nothing more comes until Finish().
            if (n == 0 && (p.revents & POLLHUP)) ::poll(nullptr, 0, 20);
        }
    }

    std::atomic<bool> m_done{false};
    std::string m_bytes;
    std::thread m_thread;
};

}  // namespace fennic::test

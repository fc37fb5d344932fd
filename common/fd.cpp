#include "fd.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace pelko {
namespace {

SystemError lastError(const char* call) {
    return {call, errno};
}

// Milliseconds for poll: -1 without a deadline, at least 0 with one (rounded up so that a
// wait never ends just before its deadline and spins).
int pollTimeout(const Wait& wait) {
    if (!wait.deadline) return -1;
    const auto left = *wait.deadline - std::chrono::steady_clock::now();
    if (left <= std::chrono::steady_clock::duration::zero()) return 0;
    return static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(left).count());
}

}  // namespace

std::string SystemError::describe() const {
    return call + ": " + std::strerror(number);
}

void FileDescriptor::reset(int fd) {
    if (fd_ >= 0 && fd_ != fd) ::close(fd_);
    fd_ = fd;
}

SystemResult<Pipe> makePipe() {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return lastError("pipe2");
    return Pipe{FileDescriptor(fds[0]), FileDescriptor(fds[1])};
}

SystemResult<std::monostate> waitReady(int fd, short events, const Wait& wait) {
    for (;;) {
        pollfd fds[2] = {{fd, events, 0}, {wait.wakeFd, POLLIN, 0}};
        const int ready = ::poll(fds, wait.wakeFd >= 0 ? 2 : 1, pollTimeout(wait));
        if (ready < 0 && errno == EINTR) continue;
        if (ready < 0) return lastError("poll");
        if (wait.wakeFd >= 0 && fds[1].revents) return SystemError{"poll", ECANCELED};
        if (ready == 0) return SystemError{"poll", ETIMEDOUT};
        return std::monostate{};
    }
}

SystemResult<std::size_t> readSome(int fd, void* into, std::size_t capacity, const Wait& wait) {
    for (;;) {
        const ssize_t n = ::read(fd, into, capacity);
        if (n >= 0) return static_cast<std::size_t>(n);
        if (errno == EINTR) continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK) return lastError("read");
        if (auto ready = waitReady(fd, POLLIN, wait); !ready) return ready.error();
    }
}

SystemResult<std::size_t> readExactly(int fd, void* into, std::size_t count, const Wait& wait) {
    auto* bytes = static_cast<char*>(into);
    std::size_t done = 0;
    while (done < count) {
        auto got = readSome(fd, bytes + done, count - done, wait);
        if (!got) return got.error();
        if (got.value() == 0) break;
        done += got.value();
    }
    return done;
}

namespace {

template <typename Put>
SystemResult<std::monostate> putAll(int fd, std::string_view bytes, const Wait& wait,
                                    const char* call, Put put) {
    while (!bytes.empty()) {
        const ssize_t n = put(fd, bytes);
        if (n >= 0) {
            bytes.remove_prefix(static_cast<std::size_t>(n));
            continue;
        }
        if (errno == EINTR) continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK) return lastError(call);
        if (auto ready = waitReady(fd, POLLOUT, wait); !ready) return ready.error();
    }
    return std::monostate{};
}

}  // namespace

SystemResult<std::monostate> writeAll(int fd, std::string_view bytes, const Wait& wait) {
    return putAll(fd, bytes, wait, "write", [](int to, std::string_view left) {
        return ::write(to, left.data(), left.size());
    });
}

SystemResult<std::monostate> sendAll(int fd, std::string_view bytes, const Wait& wait) {
    return putAll(fd, bytes, wait, "send", [](int to, std::string_view left) {
        return ::send(to, left.data(), left.size(), MSG_NOSIGNAL);
    });
}

}  // namespace pelko

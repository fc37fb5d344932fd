// The one layer over the system calls that move bytes: an owned descriptor, and reads and
// writes that retry when a signal interrupts them and report failures as values naming the
// call that failed.
#pragma once

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>

namespace pelko {

/// A failed system call: its name and the error number it set.
struct SystemError {
    std::string call;
    int number = 0;

    /// "read: Broken pipe".
    std::string describe() const;
};

/// A value, or the system call that failed on the way to it.
template <typename T>
class [[nodiscard]] SystemResult {
  public:
    SystemResult(T value) : state_(std::move(value)) {}
    SystemResult(SystemError error) : state_(std::move(error)) {}

    bool ok() const { return state_.index() == 0; }
    explicit operator bool() const { return ok(); }
    /// Only when `ok()`.
    const T& value() const { return std::get<0>(state_); }
    /// Moves the value out; only when `ok()`.
    T take() && { return std::get<0>(std::move(state_)); }
    /// Only when not `ok()`.
    const SystemError& error() const { return std::get<1>(state_); }

  private:
    std::variant<T, SystemError> state_;
};

/// An owned file descriptor, closed when its owner ends. Move-only; -1 holds nothing.
class FileDescriptor {
  public:
    FileDescriptor() = default;
    explicit FileDescriptor(int fd) : fd_(fd) {}
    FileDescriptor(FileDescriptor&& other) noexcept : fd_(other.release()) {}
    FileDescriptor& operator=(FileDescriptor&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    ~FileDescriptor() { reset(); }

    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    /// Gives the descriptor up without closing it.
    int release() { return std::exchange(fd_, -1); }
    /// Closes the held descriptor (if any) and holds `fd` instead.
    void reset(int fd = -1);

  private:
    int fd_ = -1;
};

/// Both ends of a new pipe (close-on-exec).
struct Pipe {
    FileDescriptor readEnd;
    FileDescriptor writeEnd;
};
SystemResult<Pipe> makePipe();

/// How long a call may wait for a descriptor that is not ready (one opened non-blocking):
/// until `deadline` if one is given, else for as long as it takes; and no longer than until
/// `wakeFd` (if not -1) becomes readable. A wait that ends by time-out fails with ETIMEDOUT,
/// one ended by the wake descriptor with ECANCELED, both named "poll".
struct Wait {
    std::optional<std::chrono::steady_clock::time_point> deadline;
    int wakeFd = -1;
};

/// Waits until `fd` is ready for `events` (poll flags); a hang-up counts as ready, so that the
/// read or write that follows reports what happened.
SystemResult<std::monostate> waitReady(int fd, short events, const Wait& wait = {});

/// Reads what is there, up to `capacity` bytes, waiting (see `Wait`) when nothing is; 0 means
/// the end of the input.
SystemResult<std::size_t> readSome(int fd, void* into, std::size_t capacity, const Wait& wait = {});

/// Reads until `count` bytes have come or the input ends; the count read (less than `count`
/// only at the end of the input).
SystemResult<std::size_t> readExactly(int fd, void* into, std::size_t count, const Wait& wait = {});

/// Writes every byte of `bytes` with `write`, waiting (see `Wait`) while a non-blocking
/// descriptor is full. A pipe whose reader went away raises SIGPIPE unless the program ignores
/// it, and then fails with EPIPE.
SystemResult<std::monostate> writeAll(int fd, std::string_view bytes, const Wait& wait = {});

/// `writeAll` for a socket: sent without SIGPIPE, so a peer that went away is an EPIPE error
/// whatever the program does with the signal.
SystemResult<std::monostate> sendAll(int fd, std::string_view bytes, const Wait& wait = {});

}  // namespace pelko

#include "linux/unix-message-port.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <utility>
#include <vector>

#include "fd.h"

namespace pelko::notifier {
namespace {

using SteadyClock = std::chrono::steady_clock;

/// How long the resident waits for the rest of a request once a client has connected.
constexpr auto requestReadLimit = std::chrono::seconds(2);
/// The most connections read at once; further clients wait in the listener's queue until one
/// of them ends, so a flood of them cannot take every descriptor.
constexpr size_t maxPendingConnections = 64;
/// The request header: magic, message identifier, payload length.
constexpr size_t headerSize = 12;
/// The most bytes read from one connection in one go; a payload grows as it arrives, so a
/// length in a header costs no memory before its bytes come.
constexpr size_t readChunk = 64 * 1024;
/// How long the resident's main thread may wait to hand its answer to a slow client.
constexpr auto answerWriteLimit = std::chrono::milliseconds(100);
/// How long the reader pauses when it cannot accept a connection (out of descriptors or
/// similar), instead of spinning on the listener that stays ready.
constexpr auto acceptRetryPause = std::chrono::milliseconds(100);

/// Reads exactly `count` bytes into `into`; false when the input ends first, the wait ends, or
/// the read fails.
bool readAll(int fd, void* into, size_t count, const Wait& wait) {
    auto got = readExactly(fd, into, count, wait);
    return got && got.value() == count;
}

std::optional<uid_t> peerUid(int fd) {
    ucred credentials{};
    socklen_t size = sizeof credentials;
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &size) != 0) return std::nullopt;
    return credentials.uid;
}

std::optional<sockaddr_un> socketAddress(const std::filesystem::path& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string& text = path.native();
    if (text.size() >= sizeof address.sun_path) return std::nullopt;
    std::memcpy(address.sun_path, text.c_str(), text.size() + 1);
    return address;
}

uint32_t readBigEndian(const char* bytes) {
    auto byte = [&](int i) { return static_cast<uint32_t>(static_cast<unsigned char>(bytes[i])); };
    return byte(0) << 24 | byte(1) << 16 | byte(2) << 8 | byte(3);
}

void appendBigEndian(std::string& out, uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<char>(value >> shift));
}

/// What the reader thread and the tasks it queues share with the port: whether the port is
/// still open, and where requests go. Touched only on the main thread once created.
struct PortState {
    PortCallback callback;
    bool invalidated = false;
};

class UnixLocalPort final : public LocalPort {
  public:
    UnixLocalPort(FileDescriptor lock, FileDescriptor listener, FileDescriptor wake,
                  std::filesystem::path socketPath, PortCallback callback, MainQueue mainQueue)
        : lock_(std::move(lock)),
          listener_(std::move(listener)),
          wake_(std::move(wake)),
          socketPath_(std::move(socketPath)),
          state_(std::make_shared<PortState>(PortState{std::move(callback)})),
          mainQueue_(std::move(mainQueue)) {
        reader_ = std::thread([this] { readRequests(); });
    }
    ~UnixLocalPort() override { invalidate(); }

    void invalidate() override {
        if (state_->invalidated) return;
        state_->invalidated = true;
        // Wakes the reader wherever it waits. An eventfd write fails only when its counter
        // would overflow, and then the reader is awake already.
        const uint64_t one = 1;
        (void)writeAll(wake_.get(),
                       std::string_view(reinterpret_cast<const char*>(&one), sizeof one));
        if (reader_.joinable()) reader_.join();
        // The socket file goes before the lock, so that a successor that gets the lock never
        // has its fresh socket removed by us.
        ::unlink(socketPath_.c_str());
        listener_.reset();
        lock_.reset();
    }

  private:
    /// A connection whose request is still arriving.
    struct PendingRequest {
        FileDescriptor connection;
        SteadyClock::time_point deadline;
        std::string bytes;             ///< what has come so far: the header, then the payload
        size_t expected = headerSize;  ///< how many bytes the request has in all
    };

    /// Reads every connection at once in one poll loop, each with its own 2-second limit, so a
    /// stalled or vanished client costs the others nothing. Whole requests go to the main
    /// thread as they complete.
    void readRequests() {
        std::vector<PendingRequest> pending;
        std::optional<SteadyClock::time_point> acceptPausedUntil;
        std::vector<pollfd> polled;
        for (;;) {
            const auto now = SteadyClock::now();
            if (acceptPausedUntil && now >= *acceptPausedUntil) acceptPausedUntil.reset();
            const bool listening = !acceptPausedUntil && pending.size() < maxPendingConnections;

            std::optional<SteadyClock::time_point> wakeAt = acceptPausedUntil;
            polled.assign({pollfd{wake_.get(), POLLIN, 0}, pollfd{listener_.get(), 0, 0}});
            if (listening) polled[1].events = POLLIN;
            for (const PendingRequest& request : pending) {
                polled.push_back(pollfd{request.connection.get(), POLLIN, 0});
                if (!wakeAt || request.deadline < *wakeAt) wakeAt = request.deadline;
            }
            int timeout = -1;
            if (wakeAt) {
                auto left = std::chrono::ceil<std::chrono::milliseconds>(*wakeAt - now).count();
                timeout = static_cast<int>(std::clamp<long long>(left, 0, 60000));
            }
            const int ready = ::poll(polled.data(), polled.size(), timeout);
            if (ready < 0 && errno != EINTR) return;
            if (ready > 0 && polled[0].revents != 0) return;  // the port is closing

            // Each ready connection reads what has come; finished, refused or late ones go.
            const auto afterPoll = SteadyClock::now();
            size_t kept = 0;
            for (size_t i = 0; i < pending.size(); ++i) {
                const short events = ready > 0 ? polled[i + 2].revents : 0;
                bool keep = true;
                if (events != 0)
                    keep = readMore(pending[i]);
                else if (afterPoll >= pending[i].deadline)
                    keep = false;
                if (keep) {
                    if (kept != i) pending[kept] = std::move(pending[i]);
                    ++kept;
                }
            }
            pending.resize(kept);

            if (ready > 0 && (polled[1].revents & POLLIN)) acceptPausedUntil = accept(pending);
        }
    }

    /// Takes the connections waiting at the listener (up to the limit). A failure to accept
    /// (out of descriptors or similar) pauses accepting for a while, instead of spinning on the
    /// listener that stays ready; the time until then is returned.
    std::optional<SteadyClock::time_point> accept(std::vector<PendingRequest>& pending) {
        while (pending.size() < maxPendingConnections) {
            FileDescriptor connection(
                ::accept4(listener_.get(), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK));
            if (!connection.valid()) {
                if (errno == EAGAIN || errno == EWOULDBLOCK) return std::nullopt;
                if (errno == EINTR || errno == ECONNABORTED) continue;
                return SteadyClock::now() + acceptRetryPause;
            }
            // Only the user's own clients may post; anyone else is hung up on unread.
            if (peerUid(connection.get()) != ::geteuid()) continue;
            PendingRequest request;
            request.connection = std::move(connection);
            request.deadline = SteadyClock::now() + requestReadLimit;
            pending.push_back(std::move(request));
        }
        return std::nullopt;
    }

    /// Reads what `request`'s connection has; false when it is done with: the request went to
    /// the main thread, or the connection ended, failed or sent a request that is refused.
    bool readMore(PendingRequest& request) {
        const size_t had = request.bytes.size();
        const size_t want = std::min(request.expected - had, readChunk);
        request.bytes.resize(had + want);
        auto got = readSome(request.connection.get(), request.bytes.data() + had, want,
                            Wait{SteadyClock::now()});
        if (!got) {
            request.bytes.resize(had);
            // Nothing there after all (a spurious wake): keep waiting until its deadline.
            return got.error().number == ETIMEDOUT;
        }
        request.bytes.resize(had + got.value());
        if (got.value() == 0) return false;  // the client went away before it had sent all

        if (had < headerSize && request.bytes.size() >= headerSize) {
            if (readBigEndian(request.bytes.data()) != requestMagic) return false;
            const uint32_t length = readBigEndian(request.bytes.data() + 8);
            if (length > maxPayloadBytes) return false;
            request.expected = headerSize + length;
        }
        if (request.bytes.size() < request.expected) return true;
        handOver(std::move(request));
        return false;
    }

    /// Gives a whole request to the main thread, which answers it.
    void handOver(PendingRequest request) {
        auto messageId = static_cast<int32_t>(readBigEndian(request.bytes.data() + 4));
        std::string payload = request.bytes.substr(headerSize);
        auto shared = std::make_shared<FileDescriptor>(std::move(request.connection));
        mainQueue_([state = state_, shared, messageId, payload = std::move(payload)]() mutable {
            // A port that was closed meanwhile refuses the request: the connection is hung up
            // without an answer, and the sender tries elsewhere.
            if (state->invalidated) return;
            state->callback(messageId, std::move(payload));
            const char answer = static_cast<char>(receivedByte);
            // A client that gave up meanwhile learns nothing more; its loss.
            (void)sendAll(shared->get(), std::string_view(&answer, 1),
                          Wait{SteadyClock::now() + answerWriteLimit});
        });
    }

    FileDescriptor lock_;
    FileDescriptor listener_;
    FileDescriptor wake_;
    std::filesystem::path socketPath_;
    std::shared_ptr<PortState> state_;
    MainQueue mainQueue_;
    std::thread reader_;
};

}  // namespace

std::optional<std::filesystem::path> userPortDirectory() {
    std::filesystem::path folder;
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime && runtime[0] == '/') {
        folder = runtime;
    } else {
        folder = "/tmp/pelko-" + std::to_string(::geteuid());
        ::mkdir(folder.c_str(), 0700);  // usually exists already; checked below either way
    }
    struct stat info {};
    if (::lstat(folder.c_str(), &info) != 0) return std::nullopt;
    if (!S_ISDIR(info.st_mode) || info.st_uid != ::geteuid() || (info.st_mode & 077) != 0)
        return std::nullopt;
    return folder;
}

std::string encodeRequest(int32_t messageId, const std::string& payload) {
    std::string bytes;
    bytes.reserve(12 + payload.size());
    appendBigEndian(bytes, requestMagic);
    appendBigEndian(bytes, static_cast<uint32_t>(messageId));
    appendBigEndian(bytes, static_cast<uint32_t>(payload.size()));
    bytes += payload;
    return bytes;
}

std::unique_ptr<LocalPort> UnixMessagePorts::createLocal(const std::string& name,
                                                         PortCallback callback,
                                                         MainQueue mainQueue) {
    auto folder = userPortDirectory();
    if (!folder) return nullptr;
    auto socketPath = *folder / name;
    auto address = socketAddress(socketPath);
    if (!address) return nullptr;

    auto lockPath = *folder / (name + ".lock");
    FileDescriptor lock(::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
    if (!lock.valid() || ::flock(lock.get(), LOCK_EX | LOCK_NB) != 0) return nullptr;

    // Holding the lock makes the name ours; a socket file still there is a crashed resident's.
    ::unlink(socketPath.c_str());
    // Non-blocking, so that taking the waiting connections stops when there are no more.
    FileDescriptor listener(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!listener.valid()) return nullptr;
    if (::bind(listener.get(), reinterpret_cast<const sockaddr*>(&*address), sizeof *address) != 0)
        return nullptr;
    ::chmod(socketPath.c_str(), 0600);
    if (::listen(listener.get(), SOMAXCONN) != 0) {
        ::unlink(socketPath.c_str());
        return nullptr;
    }
    FileDescriptor wake(::eventfd(0, EFD_CLOEXEC));
    if (!wake.valid()) {
        ::unlink(socketPath.c_str());
        return nullptr;
    }
    return std::make_unique<UnixLocalPort>(std::move(lock), std::move(listener), std::move(wake),
                                           socketPath, std::move(callback), std::move(mainQueue));
}

bool UnixMessagePorts::sendRequest(const std::string& name, int32_t messageId,
                                   const std::string& payload, Duration sendTimeout) {
    auto deadline = SteadyClock::now() + sendTimeout;
    auto folder = userPortDirectory();
    if (!folder) return false;
    auto address = socketAddress(*folder / name);
    if (!address) return false;
    FileDescriptor connection(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!connection.valid()) return false;
    if (::connect(connection.get(), reinterpret_cast<const sockaddr*>(&*address),
                  sizeof *address) != 0)
        return false;
    // The port must be this user's own resident, never a stranger's listener.
    if (peerUid(connection.get()) != ::geteuid()) return false;
    const Wait wait{deadline};
    if (!sendAll(connection.get(), encodeRequest(messageId, payload), wait)) return false;
    char answer = 0;
    return readAll(connection.get(), &answer, 1, wait) &&
           static_cast<unsigned char>(answer) == receivedByte;
}

}  // namespace pelko::notifier

#include "linux/unix-message-port.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <utility>

#include "fd.h"

namespace pelko::notifier {
namespace {

using SteadyClock = std::chrono::steady_clock;

/// How long the resident waits for the rest of a request once a client has connected.
constexpr auto requestReadLimit = std::chrono::seconds(2);
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
    void readRequests() {
        for (;;) {
            // A failed wait (the wake descriptor, or poll itself failing) ends the reader.
            if (!waitReady(listener_.get(), POLLIN, Wait{std::nullopt, wake_.get()})) return;
            FileDescriptor connection(
                ::accept4(listener_.get(), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK));
            if (!connection.valid()) {
                if (errno != EINTR && errno != EAGAIN && errno != ECONNABORTED) {
                    auto woken =
                        waitReady(wake_.get(), POLLIN, Wait{SteadyClock::now() + acceptRetryPause});
                    if (woken) return;
                }
                continue;
            }
            // Only the user's own clients may post; anyone else is hung up on unread.
            if (peerUid(connection.get()) != ::geteuid()) continue;
            readRequest(std::move(connection));
        }
    }

    void readRequest(FileDescriptor connection) {
        const Wait wait{SteadyClock::now() + requestReadLimit, wake_.get()};
        char header[12];
        if (!readAll(connection.get(), header, sizeof header, wait)) return;
        if (readBigEndian(header) != requestMagic) return;
        auto messageId = static_cast<int32_t>(readBigEndian(header + 4));
        uint32_t length = readBigEndian(header + 8);
        if (length > maxPayloadBytes) return;
        std::string payload(length, '\0');
        if (!readAll(connection.get(), payload.data(), length, wait)) return;
        auto shared = std::make_shared<FileDescriptor>(std::move(connection));
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
    FileDescriptor listener(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
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

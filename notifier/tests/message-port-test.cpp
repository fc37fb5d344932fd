// The Unix-socket message port: its bytes, registration, refusals, and the user boundary.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <grp.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <future>

#include "child-process.h"
#include "linux/unix-message-port.h"
#include "main-loop.h"
#include "message.h"

namespace pelko::notifier {
namespace {

using pelko::testing::ScopedTempDir;
constexpr uid_t nobody = 65534;

/// A private runtime folder for one test, and a main loop on its own thread.
class Port : public ::testing::Test {
  protected:
    void SetUp() override {
        ::chmod(runtime.path().c_str(), 0700);
        ::setenv("XDG_RUNTIME_DIR", runtime.path().c_str(), 1);
        mainThread = std::thread([this] { loop.run(); });
    }
    void TearDown() override {
        loop.quit();
        mainThread.join();
    }
    MainQueue mainQueue() {
        return [this](std::function<void()> task) { loop.post(std::move(task)); };
    }
    std::filesystem::path socketPath() const { return runtime / portName; }

    struct Received {
        std::mutex mutex;
        std::vector<std::pair<int32_t, std::string>> requests;
    };
    PortCallback recordInto(Received& received) {
        return [&received](int32_t id, std::string payload) {
            std::lock_guard lock(received.mutex);
            received.requests.emplace_back(id, std::move(payload));
        };
    }

    ScopedTempDir runtime;
    RealClock clock;
    MainLoop loop{clock};
    std::thread mainThread;
    UnixMessagePorts ports;
};

/// Runs `body` in a child process under uid and gid 65534; returns its exit status.
int runAsNobody(const std::function<int()>& body) {
    pid_t child = ::fork();
    if (child == 0) {
        ::alarm(10);  // never outlive the test
        if (::setgroups(0, nullptr) != 0 || ::setgid(nobody) != 0 || ::setuid(nobody) != 0)
            ::_exit(100);
        ::_exit(body());
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 200 + WTERMSIG(status);
}

TEST(RequestBytes, HeaderThenPayload) {
    EXPECT_EQ(encodeRequest(1, R"({"cmd":"clear","ids":[]})"),
              std::string("PLKN"               // magic
                          "\x00\x00\x00\x01"   // message identifier 1, big-endian
                          "\x00\x00\x00\x18",  // payload length 24, big-endian
                          12) +
                  R"({"cmd":"clear","ids":[]})");
    EXPECT_EQ(encodeRequest(0x01020304, std::string(300, 'x')).substr(4, 8),
              std::string("\x01\x02\x03\x04\x00\x00\x01\x2C", 8));
}

TEST_F(Port, DeliversOneRequestAndConfirmsIt) {
    Received received;
    auto port = ports.createLocal(portName, recordInto(received), mainQueue());
    ASSERT_TRUE(port);
    struct stat info {};
    ASSERT_EQ(::lstat(socketPath().c_str(), &info), 0);
    EXPECT_TRUE(S_ISSOCK(info.st_mode));
    EXPECT_EQ(info.st_mode & 0777, 0600u);

    std::string payload("{\"a\":1}\0tail", 12);
    EXPECT_TRUE(ports.sendRequest(portName, 1, payload, seconds(2)));
    EXPECT_TRUE(ports.sendRequest(portName, 7, "", seconds(2)));
    std::lock_guard lock(received.mutex);
    ASSERT_EQ(received.requests.size(), 2u);
    EXPECT_EQ(received.requests[0], std::make_pair(1, payload));
    EXPECT_EQ(received.requests[1], std::make_pair(7, std::string()));
}

/// Connects to `path`, writes `bytes`, and reads the answer: the byte, or -1 at a hang-up.
int rawExchange(const std::filesystem::path& path, const std::string& bytes) {
    int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    ::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    int answer = -2;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
        (void)::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        unsigned char byte = 0;
        answer = ::recv(fd, &byte, 1, 0) == 1 ? byte : -1;
    }
    ::close(fd);
    return answer;
}

TEST_F(Port, MalformedRequestsAreHungUpOn) {
    Received received;
    auto port = ports.createLocal(portName, recordInto(received), mainQueue());
    ASSERT_TRUE(port);
    std::string wrongMagic = encodeRequest(1, "{}");
    wrongMagic[0] = 'X';
    EXPECT_EQ(rawExchange(socketPath(), wrongMagic), -1);
    std::string tooLong = encodeRequest(1, "");
    tooLong.replace(8, 4, std::string("\x01\x00\x00\x01", 4));  // 16 MiB + 1
    EXPECT_EQ(rawExchange(socketPath(), tooLong), -1);
    // Cut short and stalled: the header promises more than comes; the resident gives up after
    // 2 seconds.
    EXPECT_EQ(rawExchange(socketPath(), encodeRequest(1, "{}").substr(0, 13)), -1);
    EXPECT_EQ(rawExchange(socketPath(), encodeRequest(1, "{}")), 0x01);
    std::lock_guard lock(received.mutex);
    ASSERT_EQ(received.requests.size(), 1u);
    EXPECT_EQ(received.requests[0].second, "{}");
}

/// A connection to `path` that the test writes to by hand; -1 when it cannot connect.
int connectTo(const std::filesystem::path& path) {
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    ::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

TEST_F(Port, StalledPeersCostOtherClientsNothing) {
    Received received;
    auto port = ports.createLocal(portName, recordInto(received), mainQueue());
    ASSERT_TRUE(port);
    // Four peers of this user connect first and stall: two halfway through the header, two
    // halfway through the payload. Each may hold its connection for 2 seconds.
    const std::string request = encodeRequest(1, "{}");
    std::vector<int> stalled;
    for (size_t cut : {size_t{5}, size_t{0}, size_t{13}, size_t{12}}) {
        int fd = connectTo(socketPath());
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::send(fd, request.data(), cut, MSG_NOSIGNAL), static_cast<ssize_t>(cut));
        stalled.push_back(fd);
    }
    // A client that came after them is served at once: well inside a limit that waiting for
    // the stalled ones in turn (8 seconds) would exceed.
    EXPECT_TRUE(ports.sendRequest(portName, 1, "after the stalled ones", seconds(5)));

    // Two requests written a few bytes at a time, interleaved, each get their one answer.
    const std::string first = encodeRequest(1, "first, in pieces");
    const std::string second = encodeRequest(2, "second, in pieces");
    int a = connectTo(socketPath());
    int b = connectTo(socketPath());
    ASSERT_GE(a, 0);
    ASSERT_GE(b, 0);
    for (size_t at = 0; at < std::max(first.size(), second.size()); at += 3) {
        if (at < first.size())
            (void)::send(a, first.data() + at, std::min<size_t>(3, first.size() - at),
                         MSG_NOSIGNAL);
        if (at < second.size())
            (void)::send(b, second.data() + at, std::min<size_t>(3, second.size() - at),
                         MSG_NOSIGNAL);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    for (int fd : {a, b}) {
        unsigned char answer = 0;
        EXPECT_EQ(::recv(fd, &answer, 1, 0), 1);
        EXPECT_EQ(answer, 0x01);
        EXPECT_EQ(::recv(fd, &answer, 1, 0), 0);  // one answer, then the resident hangs up
        ::close(fd);
    }

    // The stalled peers are hung up on unanswered once their time is up.
    for (int fd : stalled) {
        pollfd ready{fd, POLLIN, 0};
        EXPECT_EQ(::poll(&ready, 1, 10000), 1);
        unsigned char answer = 0;
        EXPECT_LE(::recv(fd, &answer, 1, 0), 0);
        ::close(fd);
    }
    std::lock_guard lock(received.mutex);
    std::vector<std::pair<int32_t, std::string>> expected{
        {1, "after the stalled ones"}, {1, "first, in pieces"}, {2, "second, in pieces"}};
    std::sort(received.requests.begin(), received.requests.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(received.requests, expected);
}

TEST_F(Port, NameIsTakenWhileRegisteredAndFreeAfterwards) {
    Received received;
    EXPECT_FALSE(ports.sendRequest(portName, 1, "x", seconds(2)));  // nobody there
    auto first = ports.createLocal(portName, recordInto(received), mainQueue());
    ASSERT_TRUE(first);
    EXPECT_FALSE(ports.createLocal(portName, recordInto(received), mainQueue()));
    first->invalidate();
    EXPECT_FALSE(std::filesystem::exists(socketPath()));
    EXPECT_FALSE(ports.sendRequest(portName, 1, "x", seconds(2)));
    auto second = ports.createLocal(portName, recordInto(received), mainQueue());
    ASSERT_TRUE(second);
    EXPECT_TRUE(ports.sendRequest(portName, 1, "x", seconds(2)));
}

TEST_F(Port, CrashedResidentLeavesNothingInTheWay) {
    pid_t child = ::fork();
    if (child == 0) {
        UnixMessagePorts childPorts;
        auto port = childPorts.createLocal(
            portName, [](int32_t, std::string) {}, [](std::function<void()>) {});
        ::raise(port ? SIGKILL : SIGTERM);
        ::_exit(1);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "child did not register";
    // Its socket file is still there, but nothing listens and the lock went with the process.
    EXPECT_TRUE(std::filesystem::exists(socketPath()));
    EXPECT_FALSE(ports.sendRequest(portName, 1, "x", seconds(2)));
    Received received;
    auto port = ports.createLocal(portName, recordInto(received), mainQueue());
    ASSERT_TRUE(port);
    EXPECT_TRUE(ports.sendRequest(portName, 1, "x", seconds(2)));
}

TEST_F(Port, FolderOpenToOthersIsNotUsed) {
    ::chmod(runtime.path().c_str(), 0755);
    Received received;
    EXPECT_FALSE(userPortDirectory());
    EXPECT_FALSE(ports.createLocal(portName, recordInto(received), mainQueue()));
    ::chmod(runtime.path().c_str(), 0700);
    EXPECT_EQ(userPortDirectory(), runtime.path());
    auto port = ports.createLocal(portName, recordInto(received), mainQueue());
    ASSERT_TRUE(port);
    ::chmod(runtime.path().c_str(), 0755);
    EXPECT_FALSE(ports.sendRequest(portName, 1, "x", seconds(2)));
    std::lock_guard lock(received.mutex);
    EXPECT_TRUE(received.requests.empty());
}

TEST_F(Port, ClosedPortRefusesWhatItHasNotHandedOver) {
    // A main queue that holds its tasks until the test runs them.
    std::mutex mutex;
    std::deque<std::function<void()>> held;
    Received received;
    auto port = ports.createLocal(portName, recordInto(received), [&](std::function<void()> task) {
        std::lock_guard lock(mutex);
        held.push_back(std::move(task));
    });
    ASSERT_TRUE(port);
    auto sent = std::async(std::launch::async,
                           [&] { return ports.sendRequest(portName, 1, "late", seconds(5)); });
    for (int i = 0; i < 500; ++i) {
        {
            std::lock_guard lock(mutex);
            if (!held.empty()) break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    port->invalidate();  // the resident decides to exit before it got to the request
    std::deque<std::function<void()>> tasks;
    {
        std::lock_guard lock(mutex);
        tasks.swap(held);
    }
    ASSERT_EQ(tasks.size(), 1u);
    tasks.front()();
    tasks.clear();  // drops the connection unanswered
    EXPECT_FALSE(sent.get());
    std::lock_guard lock(received.mutex);
    EXPECT_TRUE(received.requests.empty());
}

TEST_F(Port, AnotherUserCannotPost) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to act as a second user";
    Received received;
    auto port = ports.createLocal(portName, recordInto(received), mainQueue());
    ASSERT_TRUE(port);

    // Through the client path: the folder is not theirs, so it is never used.
    EXPECT_EQ(runAsNobody([&] {
                  return UnixMessagePorts().sendRequest(portName, 1, "x", seconds(2)) ? 1 : 0;
              }),
              0);

    // Even with the folder and socket opened up by mistake, the resident hangs up on them.
    ::chmod(runtime.path().c_str(), 0711);
    ::chmod(socketPath().c_str(), 0666);
    int status = runAsNobody([&] {
        int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        ::strncpy(address.sun_path, socketPath().c_str(), sizeof address.sun_path - 1);
        if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) return 2;
        std::string request = encodeRequest(1, R"({"cmd":"post","id":"x","title":"t"})");
        (void)::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
        pollfd ready{fd, POLLIN, 0};
        if (::poll(&ready, 1, 5000) != 1) return 3;  // neither answer nor hang-up
        char answer = 0;
        return ::recv(fd, &answer, 1, 0) == 1 ? 1 : 0;
    });
    ::chmod(runtime.path().c_str(), 0700);
    EXPECT_EQ(status, 0) << "1: answered, 2: could not connect, 3: no hang-up";
    std::lock_guard lock(received.mutex);
    EXPECT_TRUE(received.requests.empty());
}

/// Listens at `path` in a child process running as `uid` and answers every request as a
/// resident would; returns whether the client's send counted as received.
bool sendToListenerOf(uid_t uid, const std::filesystem::path& path, UnixMessagePorts& ports) {
    std::filesystem::remove(path);
    int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    ::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) return false;
    int listening[2];
    if (::pipe(listening) != 0) return false;
    pid_t child = ::fork();
    if (child == 0) {
        ::alarm(10);
        // The peer credentials a client sees are those of the process that called listen().
        if (uid != ::geteuid() &&
            (::setgroups(0, nullptr) != 0 || ::setgid(uid) != 0 || ::setuid(uid) != 0))
            ::_exit(100);
        if (::listen(fd, 4) != 0) ::_exit(101);
        (void)::write(listening[1], "L", 1);
        for (;;) {
            int connection = ::accept(fd, nullptr, nullptr);
            char header[12];
            if (::recv(connection, header, sizeof header, MSG_WAITALL) == 12)
                (void)::send(connection, "\x01", 1, MSG_NOSIGNAL);
            ::close(connection);
        }
    }
    ::close(fd);
    ::close(listening[1]);
    char ready = 0;
    bool accepted =
        ::read(listening[0], &ready, 1) == 1 && ports.sendRequest(portName, 1, "x", seconds(2));
    ::close(listening[0]);
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    return accepted;
}

TEST_F(Port, ClientRefusesAListenerOfAnotherUser) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to act as a second user";
    // The same listener run by this user is accepted; run by another user, it could only be
    // a stranger trying to catch this user's messages.
    EXPECT_TRUE(sendToListenerOf(::geteuid(), socketPath(), ports));
    EXPECT_FALSE(sendToListenerOf(nobody, socketPath(), ports));
}

}  // namespace
}  // namespace pelko::notifier

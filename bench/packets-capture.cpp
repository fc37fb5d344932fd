// Capture benchmark: packets captured out of packets sent on loopback, at rising rates, by
// pelko-packets and by tcpdump -w - in the same run. Prints figures; asserts nothing.
//
// Runs as root: it moves itself into a new network namespace, so the only traffic on its
// loopback interface is its own. Each sent UDP datagram carries a marker and a sequence
// number; a datagram counts as captured when at least one frame with its number is in the
// stream (pelko-packets sees loopback frames twice, leaving and arriving; tcpdump once).
// The processor time of each capturer is printed beside its figures, and a last row has the
// reader pause for two seconds under light traffic. PELKO_PACKETS_UNDER_TEST=<binary> puts
// another build of the tool beside tcpdump.
#include <arpa/inet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sched.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "child-process.h"

namespace {

using pelko::testing::ChildProcess;
using Clock = std::chrono::steady_clock;

constexpr char marker[4] = {'P', 'L', 'K', 'B'};
constexpr size_t payloadSize = 64;
constexpr size_t udpPayloadOffset = 14 + 20 + 8;

bool bringLoopbackUp() {
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ifreq request{};
    std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
    bool ok = fd >= 0 && ioctl(fd, SIOCGIFFLAGS, &request) == 0;
    request.ifr_flags |= IFF_UP;
    ok = ok && ioctl(fd, SIOCSIFFLAGS, &request) == 0;
    if (fd >= 0) close(fd);
    return ok;
}

struct Counts {
    size_t frames = 0;
    size_t distinct = 0;
    bool valid = false;
    double cpuMilliseconds = 0;  ///< the capturer's processor time, user and system
};

/// Counts our datagrams in a capture stream (microsecond format, native byte order).
Counts countCaptured(const std::string& stream) {
    Counts counts;
    if (stream.size() < 24) return counts;
    std::set<uint32_t> seen;
    size_t offset = 24;
    while (offset + 16 <= stream.size()) {
        uint32_t length = 0;
        std::memcpy(&length, stream.data() + offset + 8, 4);
        offset += 16;
        if (offset + length > stream.size()) break;
        const char* frame = stream.data() + offset;
        if (length >= udpPayloadOffset + 8 &&
            std::memcmp(frame + udpPayloadOffset, marker, 4) == 0) {
            uint32_t sequence = 0;
            std::memcpy(&sequence, frame + udpPayloadOffset + 4, 4);
            seen.insert(sequence);
            ++counts.frames;
        }
        offset += length;
    }
    counts.distinct = seen.size();
    counts.valid = offset == stream.size();
    return counts;
}

/// Sends datagrams at `rate` per second (0: as fast as possible) for `seconds`; the count sent.
/// Datagrams go out up to 64 at a time with sendmmsg, so that the sender outruns the capture.
uint32_t sendAtRate(int sender, const sockaddr_in& to, double rate, double seconds) {
    constexpr unsigned burst = 64;
    char payloads[burst][payloadSize] = {};
    iovec parts[burst];
    mmsghdr messages[burst] = {};
    for (unsigned i = 0; i < burst; ++i) {
        std::memcpy(payloads[i], marker, 4);
        parts[i] = {payloads[i], payloadSize};
        messages[i].msg_hdr.msg_name = const_cast<sockaddr_in*>(&to);
        messages[i].msg_hdr.msg_namelen = sizeof to;
        messages[i].msg_hdr.msg_iov = &parts[i];
        messages[i].msg_hdr.msg_iovlen = 1;
    }
    uint32_t sent = 0;
    const auto start = Clock::now();
    for (;;) {
        const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
        if (elapsed >= seconds) break;
        const double due = rate > 0 ? elapsed * rate : sent + 256.0;
        while (sent < due) {
            const unsigned count = static_cast<unsigned>(std::min<double>(burst, due - sent + 1));
            for (unsigned i = 0; i < count; ++i) {
                const uint32_t sequence = sent + i;
                std::memcpy(payloads[i] + 4, &sequence, 4);
            }
            const int done = sendmmsg(sender, messages, count, 0);
            if (done <= 0) break;  // a full socket buffer: try again on the next round
            sent += static_cast<uint32_t>(done);
        }
        if (rate > 0) std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return sent;
}

/// Processor time of the children reaped so far (user and system), in milliseconds.
double childrenCPUMilliseconds() {
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
}

/// One capture run: starts the capturer, waits until it listens, sends, stops it, counts.
Counts runCapture(const std::vector<std::string>& argv, bool isTcpdump, int sender,
                  const sockaddr_in& to, double rate, double seconds, uint32_t& sent,
                  std::chrono::milliseconds readerPause = std::chrono::milliseconds(0)) {
    const double cpuBefore = childrenCPUMilliseconds();
    ChildProcess capturer(argv);
    std::string stream;
    if (isTcpdump) {
        // tcpdump buffers its header; it says on standard error when it listens.
        for (int attempt = 0;
             attempt < 500 && capturer.stderrText().find("listening on") == std::string::npos;
             ++attempt)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    } else {
        stream = capturer.readBytes(24).value_or("");
    }
    std::thread reader([&] {
        std::this_thread::sleep_for(readerPause);  // a host that is busy elsewhere for a while
        stream += capturer.readToEnd(std::chrono::seconds(120));
    });
    sent = sendAtRate(sender, to, rate, seconds);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));  // let the queues drain
    capturer.signal(SIGINT);
    reader.join();
    capturer.waitExit();
    Counts counts = countCaptured(stream);
    counts.cpuMilliseconds = childrenCPUMilliseconds() - cpuBefore;
    return counts;
}

}  // namespace

int main(int argc, char** argv) {
    const double seconds = argc > 1 ? std::atof(argv[1]) : 1.0;
    if (unshare(CLONE_NEWNET) != 0 || !bringLoopbackUp()) {
        std::perror("a private network namespace (run as root)");
        return 1;
    }
    int receiver = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    int sender = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof to;
    if (bind(receiver, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0 ||
        getsockname(receiver, reinterpret_cast<sockaddr*>(&to), &length) != 0) {
        std::perror("receiver");
        return 1;
    }
    // The receiver's own queue overflows at high rates; it is the capture that counts here.
    std::thread drain([receiver] {
        char buffer[2048];
        while (recv(receiver, buffer, sizeof buffer, 0) >= 0) {
        }
    });
    drain.detach();

    // Another build of the tool can be put beside tcpdump, as in the tests.
    const char* other = std::getenv("PELKO_PACKETS_UNDER_TEST");
    const std::string tool = other != nullptr && *other != '\0' ? other : PELKO_PACKETS_BINARY;
    std::printf(
        "capture on loopback, %zu-byte UDP payloads, %.1f s per rate; cpu: the capturer's "
        "processor time\n",
        payloadSize, seconds);
    std::printf("%10s | %9s %9s %8s %7s | %9s %9s %9s %7s\n", "rate (pps)", "sent", "pelko",
                "pelko %", "cpu ms", "sent", "tcpdump", "tcpdump %", "cpu ms");
    const std::vector<std::string> tcpdumpArgv{
        "/usr/bin/tcpdump", "-i", "lo", "-s", "65535", "-w", "-"};
    auto compare = [&](const char* label, double rate, double sendSeconds,
                       std::chrono::milliseconds readerPause) {
        uint32_t sentPelko = 0;
        uint32_t sentTcpdump = 0;
        Counts pelko = runCapture({tool, "300", "268435456"}, false, sender, to, rate, sendSeconds,
                                  sentPelko, readerPause);
        Counts tcpdump =
            runCapture(tcpdumpArgv, true, sender, to, rate, sendSeconds, sentTcpdump, readerPause);
        std::printf("%10s | %9u %9zu %7.2f%% %7.0f | %9u %9zu %8.2f%% %7.0f%s\n", label, sentPelko,
                    pelko.distinct, sentPelko ? 100.0 * pelko.distinct / sentPelko : 0.0,
                    pelko.cpuMilliseconds, sentTcpdump, tcpdump.distinct,
                    sentTcpdump ? 100.0 * tcpdump.distinct / sentTcpdump : 0.0,
                    tcpdump.cpuMilliseconds,
                    pelko.valid && tcpdump.valid ? "" : "  (a stream did not parse)");
        std::fflush(stdout);
    };
    for (double rate : {1000.0, 10000.0, 50000.0, 100000.0, 200000.0, 300000.0, 400000.0, 0.0}) {
        char label[32];
        if (rate > 0)
            std::snprintf(label, sizeof label, "%.0f", rate);
        else
            std::snprintf(label, sizeof label, "max");
        compare(label, rate, seconds, std::chrono::milliseconds(0));
    }
    // A reader that stops reading for two seconds while light traffic goes on for three.
    std::printf("a reader that pauses for 2 s while 1000 pps are sent for 3 s:\n");
    compare("1000", 1000, 3, std::chrono::milliseconds(2000));
    return 0;
}

// Capture benchmark: packets captured out of packets sent on loopback, at rising rates, by
// pelko-packets and by tcpdump -w - in the same run. Prints figures; asserts nothing.
//
// Runs as root: it moves itself into a new network namespace, so the only traffic on its
// loopback interface is its own. Each sent UDP datagram carries a marker and a sequence
// number; a datagram counts as captured when at least one frame with its number is in the
// stream (pelko-packets sees loopback frames twice, leaving and arriving; tcpdump once).
#include <arpa/inet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sched.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
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
        if (length >= udpPayloadOffset + 8 && std::memcmp(frame + udpPayloadOffset, marker, 4) == 0) {
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
uint32_t sendAtRate(int sender, const sockaddr_in& to, double rate, double seconds) {
    char payload[payloadSize] = {};
    std::memcpy(payload, marker, 4);
    uint32_t sent = 0;
    const auto start = Clock::now();
    for (;;) {
        const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
        if (elapsed >= seconds) break;
        const double due = rate > 0 ? elapsed * rate : sent + 256.0;
        while (sent < due) {
            std::memcpy(payload + 4, &sent, 4);
            if (sendto(sender, payload, sizeof payload, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to) ==
                static_cast<ssize_t>(sizeof payload))
                ++sent;
            else
                break;  // a full socket buffer: try again on the next round
        }
        if (rate > 0) std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return sent;
}

/// One capture run: starts the capturer, waits until it listens, sends, stops it, counts.
Counts runCapture(const std::vector<std::string>& argv, bool isTcpdump, int sender, const sockaddr_in& to,
                  double rate, double seconds, uint32_t& sent) {
    ChildProcess capturer(argv);
    std::string stream;
    if (isTcpdump) {
        // tcpdump buffers its header; it says on standard error when it listens.
        for (int attempt = 0; attempt < 500 && capturer.stderrText().find("listening on") == std::string::npos;
             ++attempt)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    } else {
        stream = capturer.readBytes(24).value_or("");
    }
    std::thread reader([&] { stream += capturer.readToEnd(std::chrono::seconds(120)); });
    sent = sendAtRate(sender, to, rate, seconds);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));  // let the queues drain
    capturer.signal(SIGINT);
    reader.join();
    capturer.waitExit();
    return countCaptured(stream);
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

    std::printf("capture on loopback, %zu-byte UDP payloads, %.1f s per rate\n", payloadSize, seconds);
    std::printf("%12s | %10s %10s %8s | %10s %10s %8s\n", "rate (pps)", "sent", "pelko", "pelko %", "sent",
                "tcpdump", "tcpdump %");
    for (double rate : {1000.0, 10000.0, 50000.0, 100000.0, 200000.0, 0.0}) {
        uint32_t sentPelko = 0;
        uint32_t sentTcpdump = 0;
        Counts pelko = runCapture({PELKO_PACKETS_BINARY, "300", "268435456"}, false, sender, to, rate, seconds,
                                  sentPelko);
        Counts tcpdump = runCapture({"/usr/bin/tcpdump", "-i", "lo", "-s", "65535", "-w", "-"}, true, sender, to,
                                    rate, seconds, sentTcpdump);
        char label[32];
        if (rate > 0)
            std::snprintf(label, sizeof label, "%.0f", rate);
        else
            std::snprintf(label, sizeof label, "max");
        std::printf("%12s | %10u %10zu %7.2f%% | %10u %10zu %7.2f%%%s\n", label, sentPelko, pelko.distinct,
                    sentPelko ? 100.0 * pelko.distinct / sentPelko : 0.0, sentTcpdump, tcpdump.distinct,
                    sentTcpdump ? 100.0 * tcpdump.distinct / sentTcpdump : 0.0,
                    pelko.valid && tcpdump.valid ? "" : "  (a stream did not parse)");
        std::fflush(stdout);
    }
    return 0;
}

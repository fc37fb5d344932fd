// pelko-packets capture stopped at random moments while traffic flows: run after run, the
// capture starts under a stream of UDP datagrams of every size on the loopback device, and one
// or two stop signals (SIGINT or SIGTERM) arrive at a random moment; some runs have a size
// budget small enough to run out first.
//
//   packets-capture-soak [--seconds 60] [--seed N]      (as root, inside `unshare -n`)
//
// Every output must be a valid capture stream of whole records (checked here record by record
// and by `tcpdump -r`), within its size budget; a stopped capture exits 0, one whose budget ran
// out exits 1 with "capture size limit". Prints runs, records, bytes, the stop latency and the
// traffic sent, and ends with status 1 on any fault.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstring>
#include <fstream>
#include <thread>

#include "child-process.h"
#include "soak-support.h"

namespace {

using namespace pelko;
using namespace pelko::soak;

// Sends datagrams of random sizes to the loopback device until told to stop.
class Traffic {
  public:
    explicit Traffic(uint64_t seed) : random_(seed) {
        thread_ = std::thread([this] { run(); });
    }
    ~Traffic() {
        stopping_ = true;
        thread_.join();
    }
    long sent() const { return sent_; }

  private:
    void run() {
        const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(9);
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        std::string payload(65000, 'p');
        while (!stopping_) {
            // Bursts of datagrams, now small, now up to the largest a datagram can be.
            for (int n = 0; n < 20; ++n) {
                const size_t size =
                    chance(random_, 0.01) ? pick(random_, 1500, 65000) : pick(random_, 0, 1400);
                if (::sendto(fd, payload.data(), size, 0, reinterpret_cast<sockaddr*>(&to),
                             sizeof to) >= 0)
                    ++sent_;
            }
            std::this_thread::sleep_for(std::chrono::microseconds(pick(random_, 0, 5000)));
        }
        ::close(fd);
    }
    std::mt19937_64 random_;
    std::atomic<bool> stopping_{false};
    std::atomic<long> sent_{0};
    std::thread thread_;
};

struct Check {
    long records = 0;
    std::string fault;  // empty when the stream is valid
};

// The stream: a 24-byte header (magic, version 2.4, snapshot length, link type), then records
// of a 16-byte header (seconds, fraction, kept length, original length) and the kept bytes.
Check checkStream(const std::string& bytes, unsigned long long budget) {
    Check check;
    auto u32 = [&](size_t at) {
        uint32_t value;
        std::memcpy(&value, bytes.data() + at, 4);
        return value;
    };
    if (bytes.size() < 24) {
        check.fault = "a stream without its header";
        return check;
    }
    const uint32_t magic = u32(0);
    if (magic != 0xA1B2C3D4 && magic != 0xA1B23C4D) check.fault = "a header with a wrong magic";
    const uint32_t snapshot = u32(16);
    if (bytes.size() > budget) check.fault = "a stream over its size budget";
    size_t at = 24;
    while (check.fault.empty() && at < bytes.size()) {
        if (at + 16 > bytes.size()) {
            check.fault = "a torn record header at the end";
            break;
        }
        const uint32_t kept = u32(at + 8), original = u32(at + 12);
        if (kept > snapshot || kept > original) check.fault = "a record longer than allowed";
        if (at + 16 + kept > bytes.size()) check.fault = "a torn record at the end";
        at += 16 + kept;
        ++check.records;
    }
    return check;
}

}  // namespace

int main(int argc, char** argv) {
    const Options options(argc, argv, {});
    auto random = randomSource(options);
    Faults faults;
    if (std::system("ip link set lo up") != 0) {
        std::printf("cannot bring the loopback device up (run as root inside unshare -n)\n");
        return 1;
    }
    pelko::testing::ScopedTempDir dir;
    const std::string errorPath = (dir / "stderr").string();
    const std::string streamPath = (dir / "stream.pcap").string();
    std::printf("packets capture soak: seed %.0f, %.0f s\n", options["seed"], options["seconds"]);

    Traffic traffic(random());
    long runs = 0, stopped = 0, budgetEnds = 0, records = 0, bytes = 0, tcpdumpChecks = 0;
    double worstStopMs = 0;
    const auto start = SteadyClock::now();
    while (SteadyClock::now() - start < options.seconds()) {
        const bool smallBudget = chance(random, 0.25);
        const unsigned long long budget =
            smallBudget ? pick(random, 1024, 200000) : pick(random, 64 << 20, 256 << 20);
        Spawned capture({PELKO_PACKETS, "300", std::to_string(budget)}, {}, errorPath);
        capture.closeInput();
        std::string output;
        std::atomic<bool> ended{false};
        std::thread reader([&] {
            char chunk[1 << 16];
            for (ssize_t got; (got = ::read(capture.output(), chunk, sizeof chunk)) > 0;)
                output.append(chunk, static_cast<size_t>(got));
            ended = true;
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(pick(random, 50, 3000)));
        const auto signalled = SteadyClock::now();
        ::kill(capture.pid(), chance(random, 0.5) ? SIGINT : SIGTERM);
        if (chance(random, 0.3)) ::kill(capture.pid(), chance(random, 0.5) ? SIGINT : SIGTERM);
        const auto status = capture.wait(std::chrono::seconds(10));
        const double stopMs = secondsSince(signalled) * 1000;
        reader.join();
        ++runs;
        const std::string error = pelko::testing::readFile(errorPath);
        if (!status) {
            faults.add("no exit within 10 s of the stop", std::to_string(budget));
            continue;
        }
        const bool budgetRanOut = error.find("capture size limit") != std::string::npos;
        if (budgetRanOut) {
            ++budgetEnds;
            if (*status != 1) faults.add("a size-limit ending that is not status 1", error);
        } else {
            ++stopped;
            worstStopMs = std::max(worstStopMs, stopMs);
            if (*status != 0)
                faults.add("a stopped capture that is not status 0",
                           std::to_string(*status) + " " + error);
        }
        const Check check = checkStream(output, budget);
        records += check.records;
        bytes += static_cast<long>(output.size());
        if (!check.fault.empty()) faults.add(check.fault, std::to_string(output.size()) + " bytes");
        // tcpdump reads the whole stream back.
        std::ofstream(streamPath, std::ios::binary) << output;
        ++tcpdumpChecks;
        if (std::system(("tcpdump -r '" + streamPath + "' -nn -q >/dev/null 2>&1").c_str()) != 0)
            faults.add("tcpdump cannot read a stream", std::to_string(output.size()) + " bytes");
    }

    const double elapsed = secondsSince(start);
    std::printf("figures:\n");
    figure("runs", runs);
    figure("  stopped by a signal (status 0)", stopped);
    figure("  size budget ran out (status 1)", budgetEnds);
    figure("seconds", elapsed, "%.1f");
    figure("records captured", records);
    figure("bytes captured", bytes);
    figure("datagrams sent", traffic.sent());
    figure("streams read back by tcpdump", tcpdumpChecks);
    figure("slowest stop, signal to exit (ms)", worstStopMs, "%.0f");
    return faults.report();
}

// Packet capture inside a private network namespace: the stream's exact header, whole
// records, the size budget, the stop, and tcpdump reading what the tool wrote.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <sys/time.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <ctime>
#include <map>
#include <numeric>
#include <sstream>
#include <thread>

#include "tool-run.h"

namespace pelko::packets::testing {
namespace {

constexpr size_t udpFrameOverhead = 14 + 20 + 8;  // Ethernet, IPv4 and UDP headers

class Capture : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!namespaceAllowed("-n"))
            GTEST_SKIP() << "the kernel refuses a private network namespace";
    }
};

// On loopback each datagram is seen twice, leaving and arriving.
size_t streamSizeFor(const std::vector<size_t>& payloads) {
    size_t size = 24;
    for (size_t payload : payloads) size += 2 * (16 + udpFrameOverhead + payload);
    return size;
}

/// A datagram's payload that carries its place in a burst: the number, then filler.
std::string numberedPayload(uint32_t number, size_t size) {
    std::string payload(size, 'q');
    std::memcpy(payload.data(), &number, sizeof number);
    return payload;
}

uint32_t payloadNumber(const CaptureRecord& record) {
    uint32_t number = UINT32_MAX;
    if (record.frame.size() >= udpFrameOverhead + sizeof number)
        std::memcpy(&number, record.frame.data() + udpFrameOverhead, sizeof number);
    return number;
}

/// The order in which a burst's datagrams were seen: on loopback each is seen twice, leaving
/// and arriving, so the numbers of first sightings and of second sightings are listed apart.
struct Sightings {
    std::vector<uint32_t> first;
    std::vector<uint32_t> second;
    size_t more = 0;  ///< sightings beyond the second
};

Sightings sightingsOf(const std::vector<CaptureRecord>& records) {
    Sightings sightings;
    std::map<uint32_t, int> seen;
    for (const CaptureRecord& record : records) {
        const uint32_t number = payloadNumber(record);
        const int times = ++seen[number];
        if (times == 1)
            sightings.first.push_back(number);
        else if (times == 2)
            sightings.second.push_back(number);
        else
            ++sightings.more;
    }
    return sightings;
}

std::vector<uint32_t> firstNumbers(size_t count) {
    std::vector<uint32_t> numbers(count);
    std::iota(numbers.begin(), numbers.end(), 0u);
    return numbers;
}

/// Sends SIGSTOP and waits until the process has stopped, so that whatever is sent next waits
/// in the kernel until SIGCONT.
bool holdStill(pid_t pid) {
    if (kill(pid, SIGSTOP) != 0) return false;
    const std::string statPath = "/proc/" + std::to_string(pid) + "/stat";
    for (int attempt = 0; attempt < 5000; ++attempt) {
        const std::string stat = pelko::testing::readFile(statPath);
        const size_t nameEnd = stat.rfind(')');
        if (nameEnd != std::string::npos && stat.size() > nameEnd + 2 && stat[nameEnd + 2] == 'T')
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
}

uint64_t wallMicroseconds() {
    timeval t{};
    gettimeofday(&t, nullptr);
    return static_cast<uint64_t>(t.tv_sec) * 1000000 + static_cast<uint64_t>(t.tv_usec);
}

uint64_t stampMicroseconds(const CaptureRecord& record) {
    return uint64_t{record.seconds} * 1000000 + record.microseconds;
}

TEST_F(Capture, BurstQueuedBeforeTheToolReadsComesOutWholeInOrderWithReceiptTimes) {
    ChildProcess tool(inNetworkNamespace({"30", "100000000"}));
    ASSERT_TRUE(tool.readBytes(24).has_value());

    // Sizes from a few bytes to jumbo frames, so that the burst fills the tool's batches
    // unevenly and large frames fall at their edges.
    const size_t sizes[] = {8, 60, 200, 1400, 9000};
    std::vector<std::string> payloads;
    std::vector<size_t> payloadSizes;
    for (uint32_t number = 0; number < 400; ++number) {
        payloadSizes.push_back(sizes[number % std::size(sizes)]);
        payloads.push_back(numberedPayload(number, payloadSizes.back()));
    }
    ASSERT_TRUE(holdStill(tool.pid()));
    const uint64_t sentFrom = wallMicroseconds();
    ASSERT_TRUE(sendLoopbackPayloads(tool.pid(), payloads));
    const uint64_t sentUntil = wallMicroseconds();
    // The tool reads the burst only now, well after the kernel received it.
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    tool.signal(SIGCONT);

    const auto records = tool.readBytes(streamSizeFor(payloadSizes) - 24);
    ASSERT_TRUE(records.has_value());
    tool.signal(SIGINT);
    EXPECT_EQ(tool.waitExit(), exitedWith(0));
    EXPECT_EQ(tool.readToEnd(), "");
    EXPECT_EQ(tool.stderrText(), "");

    std::vector<CaptureRecord> parsed;
    ASSERT_TRUE(parseCapture(std::string(24, '\0') + *records, parsed));
    ASSERT_EQ(parsed.size(), 2 * payloads.size());
    std::vector<bool> left(payloads.size(), false);
    for (const CaptureRecord& record : parsed) {
        const uint32_t number = payloadNumber(record);
        ASSERT_LT(number, payloads.size());
        EXPECT_EQ(record.frame.substr(udpFrameOverhead), payloads[number]) << number;
        EXPECT_EQ(record.capturedLength, record.frame.size());
        EXPECT_EQ(record.originalLength, record.frame.size());
        // Stamped when the kernel received the frame, not when the tool read it. A frame
        // leaving (the first of the two) reaches the packet socket before its send returns;
        // its arrival may be handled later, when the kernel gets round to it.
        EXPECT_GE(stampMicroseconds(record), sentFrom) << number;
        if (!left[number]) {
            EXPECT_LE(stampMicroseconds(record), sentUntil) << number;
        }
        left[number] = true;
    }
    const Sightings sightings = sightingsOf(parsed);
    EXPECT_EQ(sightings.first, firstNumbers(payloads.size()));
    EXPECT_EQ(sightings.second, firstNumbers(payloads.size()));
    EXPECT_EQ(sightings.more, 0u);
}

TEST_F(Capture, BudgetEndingInsideABatchKeepsTheRecordsBeforeIt) {
    // Thirty datagrams of 1000 bytes (records of 1058), then thirty of 10 (records of 68). The
    // budget holds 21 large records and 1000 bytes more: the 22nd frame is a large one (frames
    // leaving keep their order, so no small frame comes before the 31st), and ends the capture
    // even though small records behind it in the same batch would still fit.
    const size_t largeRecord = 16 + udpFrameOverhead + 1000;
    const size_t budget = 24 + 21 * largeRecord + 1000;
    ChildProcess tool(inNetworkNamespace({"30", std::to_string(budget)}));
    ASSERT_TRUE(tool.readBytes(24).has_value());
    std::vector<std::string> payloads;
    for (uint32_t number = 0; number < 60; ++number)
        payloads.push_back(numberedPayload(number, number < 30 ? 1000 : 10));
    ASSERT_TRUE(holdStill(tool.pid()));
    ASSERT_TRUE(sendLoopbackPayloads(tool.pid(), payloads));
    tool.signal(SIGCONT);

    EXPECT_EQ(tool.waitExit(), exitedWith(1));
    const std::string rest = tool.readToEnd();
    EXPECT_EQ(rest.size(), 21 * largeRecord);
    EXPECT_EQ(tool.stderrText(), "capture size limit\n");
    std::vector<CaptureRecord> parsed;
    ASSERT_TRUE(parseCapture(std::string(24, '\0') + rest, parsed));
    ASSERT_EQ(parsed.size(), 21u);
    for (const CaptureRecord& record : parsed) {
        const uint32_t number = payloadNumber(record);
        ASSERT_LT(number, 30u);
        EXPECT_EQ(record.frame.substr(udpFrameOverhead), payloads[number]) << number;
    }
    const Sightings sightings = sightingsOf(parsed);
    EXPECT_EQ(sightings.first, firstNumbers(sightings.first.size()));
    EXPECT_EQ(sightings.second, firstNumbers(sightings.second.size()));
    EXPECT_EQ(sightings.first.size() + sightings.second.size(), 21u);
}

TEST_F(Capture, FramesThatArrivedBeforeAStopAreWritten) {
    // The datagrams reach the kernel while the tool is held still, and the stop is already
    // waiting when it goes on: the tool never saw them before it was told to stop.
    ChildProcess tool(inNetworkNamespace({"30", "1000000"}));
    ASSERT_TRUE(tool.readBytes(24).has_value());
    std::vector<std::string> payloads;
    for (uint32_t number = 0; number < 5; ++number) payloads.push_back(numberedPayload(number, 50));
    ASSERT_TRUE(holdStill(tool.pid()));
    ASSERT_TRUE(sendLoopbackPayloads(tool.pid(), payloads));
    tool.signal(SIGINT);
    tool.signal(SIGCONT);
    EXPECT_EQ(tool.waitExit(), exitedWith(0));
    std::vector<CaptureRecord> parsed;
    ASSERT_TRUE(parseCapture(std::string(24, '\0') + tool.readToEnd(), parsed));
    // Each datagram has left before the stop; whether its arrival was handed to the packet
    // socket before the stop too is up to the kernel's scheduling.
    const Sightings sightings = sightingsOf(parsed);
    EXPECT_EQ(sightings.first, firstNumbers(payloads.size()));
    EXPECT_EQ(sightings.second, firstNumbers(sightings.second.size()));
    EXPECT_EQ(tool.stderrText(), "");
}

TEST_F(Capture, FrameLongerThanTheSnapshotLengthIsCutToIt) {
    // The largest UDP datagram makes a frame of 65549 bytes on loopback; the stream promises
    // no record longer than 65535.
    ChildProcess tool(inNetworkNamespace({"30", "1000000"}));
    ASSERT_TRUE(tool.readBytes(24).has_value());
    const std::string payload = numberedPayload(7, 65507);
    ASSERT_TRUE(sendLoopbackPayloads(tool.pid(), {payload}));
    const auto records = tool.readBytes(2 * (16 + 65535));
    ASSERT_TRUE(records.has_value());
    tool.signal(SIGINT);
    EXPECT_EQ(tool.waitExit(), exitedWith(0));
    EXPECT_EQ(tool.readToEnd(), "");
    std::vector<CaptureRecord> parsed;
    ASSERT_TRUE(parseCapture(std::string(24, '\0') + *records, parsed));
    ASSERT_EQ(parsed.size(), 2u);
    for (const CaptureRecord& record : parsed) {
        EXPECT_EQ(record.capturedLength, 65535u);
        EXPECT_EQ(record.originalLength, 65535u);
        EXPECT_EQ(record.frame.substr(udpFrameOverhead),
                  payload.substr(0, 65535 - udpFrameOverhead));
    }
}

TEST_F(Capture, StopSignalGivesAValidStreamThatTcpdumpReads) {
    const time_t before = time(nullptr);
    ChildProcess tool(inNetworkNamespace({"30", "1000000"}));
    const auto header = tool.readBytes(24);
    ASSERT_TRUE(header.has_value());
    const unsigned char expectedHeader[24] = {
        0xd4, 0xc3, 0xb2, 0xa1,  // magic number, little-endian
        2,    0,                 // major version
        4,    0,                 // minor version
        0,    0,    0,    0,     // time-zone correction
        0,    0,    0,    0,     // time-stamp accuracy
        0xff, 0xff, 0,    0,     // snapshot length 65535
        1,    0,    0,    0,     // link type: Ethernet
    };
    EXPECT_EQ(*header, std::string(reinterpret_cast<const char*>(expectedHeader), 24));

    const std::vector<size_t> payloads{1, 100, 1400, 9000};
    ASSERT_TRUE(sendLoopbackDatagrams(tool.pid(), payloads));
    const auto records = tool.readBytes(streamSizeFor(payloads) - 24);
    ASSERT_TRUE(records.has_value());
    tool.signal(SIGINT);
    EXPECT_EQ(tool.waitExit(), exitedWith(0));
    const std::string stream = *header + *records + tool.readToEnd();
    EXPECT_EQ(tool.stderrText(), "");

    std::vector<CaptureRecord> parsed;
    ASSERT_TRUE(parseCapture(stream, parsed));
    std::map<size_t, int> framesBySize;
    for (const CaptureRecord& record : parsed) {
        EXPECT_EQ(record.capturedLength, record.originalLength);
        EXPECT_GE(record.seconds, static_cast<uint32_t>(before));
        EXPECT_LE(record.seconds, static_cast<uint32_t>(time(nullptr)));
        EXPECT_LT(record.microseconds, 1000000u);
        ++framesBySize[record.frame.size()];
    }
    for (size_t payload : payloads)
        EXPECT_EQ(framesBySize[udpFrameOverhead + payload], 2) << payload;
    EXPECT_EQ(parsed.size(), 2 * payloads.size());

    // Debian's tcpdump reads the stream: one line per record, no complaint.
    ScopedTempDir temp;
    pelko::testing::writeFile(temp / "capture.pcap", stream);
    ChildProcess tcpdump({"/usr/bin/tcpdump", "-nn", "-r", (temp / "capture.pcap").string()},
                         nullStdin());
    const std::string decoded = tcpdump.readToEnd();
    EXPECT_EQ(tcpdump.waitExit(), exitedWith(0));
    EXPECT_EQ(std::count(decoded.begin(), decoded.end(), '\n'), static_cast<long>(parsed.size()));
    EXPECT_NE(decoded.find("127.0.0.1"), std::string::npos) << decoded;
    EXPECT_NE(tcpdump.stderrText().find("link-type EN10MB (Ethernet), snapshot length 65535"),
              std::string::npos)
        << tcpdump.stderrText();
}

TEST_F(Capture, BudgetIsNeverExceeded) {
    // Frames of 142 bytes make records of 158: with 1024 bytes, six fit after the header.
    ChildProcess smallest(inNetworkNamespace({"10", "1024"}));
    ASSERT_TRUE(smallest.readBytes(24).has_value());
    ASSERT_TRUE(sendLoopbackDatagrams(smallest.pid(), std::vector<size_t>(4, 100)));
    EXPECT_EQ(smallest.waitExit(), exitedWith(1));
    const std::string rest = smallest.readToEnd();
    EXPECT_EQ(rest.size(), 6u * 158);
    EXPECT_EQ(smallest.stderrText(), "capture size limit\n");

    // A budget that seven records fill exactly is used to the last byte.
    const size_t exact = 24 + 7 * 158;
    ChildProcess filled(inNetworkNamespace({"10", std::to_string(exact)}));
    ASSERT_TRUE(filled.readBytes(24).has_value());
    ASSERT_TRUE(sendLoopbackDatagrams(filled.pid(), std::vector<size_t>(4, 100)));
    EXPECT_EQ(filled.waitExit(), exitedWith(1));
    std::vector<CaptureRecord> parsed;
    const std::string stream = std::string(24, '\0') + filled.readToEnd();
    EXPECT_EQ(stream.size(), exact);
    EXPECT_TRUE(parseCapture(stream, parsed));
    EXPECT_EQ(parsed.size(), 7u);
    EXPECT_EQ(filled.stderrText(), "capture size limit\n");
}

TEST_F(Capture, DeadlineEndsAQuietCaptureWithSuccess) {
    // The largest budget is accepted; no traffic, so the stream is the header alone.
    ChildProcess tool(inNetworkNamespace({"1", "268435456"}));
    EXPECT_EQ(tool.readToEnd().size(), 24u);
    EXPECT_EQ(tool.waitExit(), exitedWith(0));
    EXPECT_EQ(tool.stderrText(), "");
}

TEST_F(Capture, OutputThatFailsMidStreamEndsWithFailure) {
    // The host reads the header and goes away; the next record cannot be written.
    int output = -1;
    const pid_t tool = startWithOutputPipe(inNetworkNamespace({"30", "1000000"}), output);
    ASSERT_GT(tool, 0);
    char header[24];
    size_t got = 0;
    while (got < sizeof header) {
        const ssize_t n = read(output, header + got, sizeof header - got);
        if (n <= 0) break;
        got += static_cast<size_t>(n);
    }
    close(output);
    EXPECT_EQ(got, sizeof header);
    EXPECT_TRUE(sendLoopbackDatagrams(tool, {10}));
    EXPECT_EQ(waitFor(tool), exitedWith(1));  // not killed by SIGPIPE
}

TEST(CaptureWithoutPrivilege, PacketSocketRefused) {
    // Root without the raw-network capability may not open a packet socket.
    ChildProcess tool({"/usr/bin/setpriv", "--bounding-set=-net_raw", "--inh-caps=-net_raw",
                       toolPath(), "1", "2048"},
                      nullStdin());
    EXPECT_EQ(tool.readToEnd(), "");
    EXPECT_EQ(tool.waitExit(), exitedWith(1));
    EXPECT_EQ(tool.stderrText(), "packet socket: Operation not permitted\n");
}

}  // namespace
}  // namespace pelko::packets::testing

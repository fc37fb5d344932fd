// Helpers for the black-box tests of pelko-packets: one run of the real binary, the private
// namespaces some commands need, and readers of the capture stream.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "child-process.h"

namespace pelko::packets::testing {

using pelko::testing::ChildOptions;
using pelko::testing::ChildProcess;
using pelko::testing::ExitStatus;
using pelko::testing::ScopedTempDir;

/// Options that give the child /dev/null as its standard input.
inline ChildOptions nullStdin() {
    ChildOptions options;
    options.nullStdin = true;
    return options;
}

/// The binary under test.
std::string toolPath();

/// The library of test hooks that a test may preload into the tool (see tool-shim.cpp).
inline std::string shimPath() {
    return PELKO_PACKETS_SHIM;
}

/// What one finished run left behind.
struct ToolRun {
    ExitStatus status;
    std::string out;
    std::string err;
};

/// Runs the tool with `arguments`, writes `input` to its standard input and closes it, and
/// collects everything it writes until it ends.
ToolRun runTool(const std::vector<std::string>& arguments, std::string_view input = {});

/// Starts `argv` with its standard output on a new pipe whose reading end goes to `output`;
/// the test may close that end to play a host that stops reading. The child gets the usual
/// SIGPIPE disposition. -1 when it could not be started.
pid_t startWithOutputPipe(const std::vector<std::string>& argv, int& output);

/// Waits for a process started by `startWithOutputPipe` to end.
ExitStatus waitFor(pid_t pid);

/// The exit status of a normal exit with `code`, for comparisons.
ExitStatus exitedWith(int code);

/// Whether this machine lets root run a command in a new mount (`flag` "-m") or network
/// ("-n") namespace; the reason to skip when it does not.
bool namespaceAllowed(const char* flag);

/// A directory tree to run the tool in with chroot inside a private mount namespace: /usr of
/// the machine (read-only), the usual links to it, /dev, and an empty /system/bin where a test
/// puts the screen recorder it wants. The tool is copied to /pelko-packets.
class FakeSystemRoot {
  public:
    FakeSystemRoot();
    /// Removes the tree, unless a mount of the namespace shows through it (then it is left).
    ~FakeSystemRoot();
    FakeSystemRoot(const FakeSystemRoot&) = delete;
    FakeSystemRoot& operator=(const FakeSystemRoot&) = delete;
    const std::filesystem::path& root() const { return root_; }
    /// Installs `script` (run by /bin/sh) as /system/bin/screenrecord.
    void installRecorder(std::string_view script);
    /// Copies the library of test hooks into the tree, as /shim.so.
    void installShim();
    /// The command line that runs the tool inside the tree with `arguments`, and with the
    /// variables of `environment` ("NAME=value") added; the tool keeps the pid of the process
    /// started with it.
    std::vector<std::string> command(const std::vector<std::string>& arguments,
                                     const std::vector<std::string>& environment = {}) const;

  private:
    std::filesystem::path temp_;
    std::filesystem::path root_;
};

/// The command line that runs the tool with `arguments` in a new network namespace whose
/// loopback interface is up; the tool keeps the pid of the process started with it.
std::vector<std::string> inNetworkNamespace(const std::vector<std::string>& arguments);

/// Sends UDP datagrams with the given payload sizes to a listener on 127.0.0.1, from inside
/// the network namespace of process `pid`. Returns false when the namespace cannot be joined.
bool sendLoopbackDatagrams(pid_t pid, const std::vector<size_t>& payloadSizes);
/// Sends one UDP datagram for each of `payloads`, in order, as `sendLoopbackDatagrams` does.
bool sendLoopbackPayloads(pid_t pid, const std::vector<std::string>& payloads);

/// One record of a capture stream.
struct CaptureRecord {
    uint32_t seconds = 0;
    uint32_t microseconds = 0;
    uint32_t capturedLength = 0;
    uint32_t originalLength = 0;
    std::string frame;
};

/// Splits a capture stream after its 24-byte header into whole records; false when the
/// stream is shorter than its header or ends inside a record.
bool parseCapture(std::string_view stream, std::vector<CaptureRecord>& records);

}  // namespace pelko::packets::testing

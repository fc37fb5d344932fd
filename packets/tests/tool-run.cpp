#include "tool-run.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sched.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <thread>

namespace pelko::packets::testing {

namespace fs = std::filesystem;

std::string toolPath() {
    // Another build of the tool (one with sanitizers, say) can be put under the same tests.
    const char* other = std::getenv("PELKO_PACKETS_UNDER_TEST");
    return other != nullptr && *other != '\0' ? other : PELKO_PACKETS_BINARY;
}

ToolRun runTool(const std::vector<std::string>& arguments, std::string_view input) {
    std::vector<std::string> argv{toolPath()};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    ChildProcess child(argv);
    if (!input.empty()) child.write(input);  // false when the tool stopped reading: fine
    child.closeStdin();
    ToolRun run;
    run.out = child.readToEnd(std::chrono::seconds(60));
    run.status = child.waitExit(std::chrono::seconds(60)).value_or(ExitStatus{});
    run.err = child.stderrText();
    return run;
}

pid_t startWithOutputPipe(const std::vector<std::string>& argv, int& output) {
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) return -1;
    std::vector<std::string> copy = argv;
    std::vector<char*> args;
    for (auto& argument : copy) args.push_back(argument.data());
    args.push_back(nullptr);
    const pid_t child = fork();
    if (child == 0) {
        signal(SIGPIPE, SIG_DFL);
        dup2(ends[1], 1);
        execv(args[0], args.data());
        _exit(127);
    }
    close(ends[1]);
    output = ends[0];
    return child;
}

ExitStatus waitFor(pid_t pid) {
    int raw = 0;
    while (waitpid(pid, &raw, 0) < 0) {
        if (errno != EINTR) return {};
    }
    if (WIFEXITED(raw)) return exitedWith(WEXITSTATUS(raw));
    return ExitStatus{false, -1, WTERMSIG(raw)};
}

ExitStatus exitedWith(int code) {
    return ExitStatus{true, code, 0};
}

bool namespaceAllowed(const char* flag) {
    ChildProcess probe({"/usr/bin/unshare", flag, "/bin/true"}, nullStdin());
    auto status = probe.waitExit();
    return status && *status == exitedWith(0);
}

FakeSystemRoot::FakeSystemRoot() {
    std::string pattern = (fs::temp_directory_path() / "pelko-packets-root-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    temp_ = pattern;
    root_ = temp_ / "root";
    for (const char* folder : {"usr", "dev", "out", "system/bin"})
        fs::create_directories(root_ / folder);
    for (const char* link : {"bin", "lib", "lib64", "sbin"})
        fs::create_symlink(std::string("usr/") + link, root_ / link);
    fs::copy_file(toolPath(), root_ / "pelko-packets");
}

FakeSystemRoot::~FakeSystemRoot() {
    // Removing the tree must never reach into /usr or /dev through a mount that leaked out.
    struct stat top {};
    if (stat(root_.c_str(), &top) != 0) return;
    for (const char* folder : {"usr", "dev"}) {
        struct stat inner {};
        if (stat((root_ / folder).c_str(), &inner) != 0 || inner.st_dev != top.st_dev) return;
    }
    std::error_code ignored;
    fs::remove_all(temp_, ignored);
}

void FakeSystemRoot::installRecorder(std::string_view script) {
    const fs::path recorder = root_ / "system/bin/screenrecord";
    pelko::testing::writeFile(recorder, "#!/bin/sh\n" + std::string(script));
    fs::permissions(recorder, fs::perms(0755));
}

void FakeSystemRoot::installShim() {
    fs::copy_file(shimPath(), root_ / "shim.so");
}

std::vector<std::string> FakeSystemRoot::command(
    const std::vector<std::string>& arguments, const std::vector<std::string>& environment) const {
    // The mounts live only in the new namespace, and end with it.
    std::vector<std::string> argv{"/usr/bin/unshare",
                                  "-m",
                                  "/bin/sh",
                                  "-c",
                                  "set -e; root=$1; shift\n"
                                  "mount --make-rprivate /\n"
                                  "mount --bind /usr \"$root/usr\"\n"
                                  "mount -o remount,bind,ro \"$root/usr\"\n"
                                  "mount --rbind /dev \"$root/dev\"\n"
                                  "exec chroot \"$root\" \"$@\"\n",
                                  "sh",
                                  root_.string()};
    if (!environment.empty()) {
        argv.push_back("/usr/bin/env");
        argv.insert(argv.end(), environment.begin(), environment.end());
    }
    argv.push_back("/pelko-packets");
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return argv;
}

std::vector<std::string> inNetworkNamespace(const std::vector<std::string>& arguments) {
    std::vector<std::string> argv{
        "/usr/bin/unshare", "-n", "/bin/sh", "-c", "ip link set lo up && exec \"$0\" \"$@\"",
        toolPath()};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return argv;
}

bool sendLoopbackDatagrams(pid_t pid, const std::vector<size_t>& payloadSizes) {
    std::vector<std::string> payloads;
    for (size_t size : payloadSizes) payloads.emplace_back(size, 'p');
    return sendLoopbackPayloads(pid, payloads);
}

bool sendLoopbackPayloads(pid_t pid, const std::vector<std::string>& payloads) {
    bool sent = false;
    // Joining a network namespace changes only the calling thread, so a thread of its own
    // does it and the test's other threads stay where they are.
    std::thread sender([&] {
        const std::string path = "/proc/" + std::to_string(pid) + "/ns/net";
        int ns = open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (ns < 0) return;
        const bool joined = setns(ns, CLONE_NEWNET) == 0;
        close(ns);
        if (!joined) return;
        // A bound receiver keeps the kernel from answering with port-unreachable messages.
        int receiver = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        int transmitter = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        sent = receiver >= 0 && transmitter >= 0 &&
               bind(receiver, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
               getsockname(receiver, reinterpret_cast<sockaddr*>(&address), &length) == 0;
        for (const std::string& payload : payloads) {
            sent = sent && sendto(transmitter, payload.data(), payload.size(), 0,
                                  reinterpret_cast<sockaddr*>(&address),
                                  sizeof address) == static_cast<ssize_t>(payload.size());
        }
        if (receiver >= 0) close(receiver);
        if (transmitter >= 0) close(transmitter);
    });
    sender.join();
    return sent;
}

bool parseCapture(std::string_view stream, std::vector<CaptureRecord>& records) {
    if (stream.size() < 24) return false;
    stream.remove_prefix(24);
    while (!stream.empty()) {
        if (stream.size() < 16) return false;
        CaptureRecord record;
        std::memcpy(&record.seconds, stream.data(), 4);
        std::memcpy(&record.microseconds, stream.data() + 4, 4);
        std::memcpy(&record.capturedLength, stream.data() + 8, 4);
        std::memcpy(&record.originalLength, stream.data() + 12, 4);
        stream.remove_prefix(16);
        if (stream.size() < record.capturedLength) return false;
        record.frame = std::string(stream.substr(0, record.capturedLength));
        stream.remove_prefix(record.capturedLength);
        records.push_back(std::move(record));
    }
    return true;
}

}  // namespace pelko::packets::testing

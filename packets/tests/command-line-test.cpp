// The command line: dispatch order, usage, ranges, --version, --process, and what the binary
// needs from the system.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "tool-run.h"

namespace pelko::packets::testing {
namespace {

const std::string usage = "usage: pelko-packets seconds max-bytes\n";

TEST(CommandLine, VersionPrintsItsLine) {
    ToolRun run = runTool({"--version"});
    EXPECT_EQ(run.status, exitedWith(0));
    EXPECT_EQ(run.out, "pelko-packets/4\n");
    EXPECT_EQ(run.err, "");
}

TEST(CommandLine, FormsThatReachTheUsageBranch) {
    for (const auto& arguments : std::vector<std::vector<std::string>>{
             {},
             {"--supervise"},
             {"--version", "a", "b"},
             {"--process", "1", "2"},
             {"one", "two", "three"},
             {"a", "b", "c", "d"},
         }) {
        ToolRun run = runTool(arguments);
        EXPECT_EQ(run.status, exitedWith(2)) << ::testing::PrintToString(arguments);
        EXPECT_EQ(run.err, usage) << ::testing::PrintToString(arguments);
        EXPECT_EQ(run.out, "");
    }
}

TEST(CommandLine, SilentArgumentErrors) {
    for (const auto& arguments : std::vector<std::vector<std::string>>{
             // App commands need exactly three arguments.
             {"--app-read"},
             {"--app-list", "/tmp", "0"},
             {"--app-write", "/tmp", "0", "a", "b"},
             // Any other word with two arguments is read as the seconds of a capture.
             {"--version", "x"},
             {"--record", "5"},
             {"--app", "2048"},
             // Capture ranges: 1..300 seconds, 1024..256 MiB.
             {"0", "2048"},
             {"301", "2048"},
             {"1", "1023"},
             {"1", "268435457"},
             {"1", "-1"},
             // Recording: 1..180 seconds.
             {"--record", "0", "/tmp/x"},
             {"--record", "181", "/tmp/x"},
             {"--record", "abc", "/tmp/x"},
             // A pid must be a whole positive decimal.
             {"--process", "0"},
             {"--process", "-5"},
             {"--process", "12x"},
             {"--process", ""},
             {"--process", "99999999999999999999999"},
         }) {
        ToolRun run = runTool(arguments);
        EXPECT_EQ(run.status, exitedWith(2)) << ::testing::PrintToString(arguments);
        EXPECT_EQ(run.err, "") << ::testing::PrintToString(arguments);
        EXPECT_EQ(run.out, "") << ::testing::PrintToString(arguments);
    }
}

TEST(ProcessIdentity, MissingProcessIsASystemError) {
    // Pids stay below the kernel's maximum, so that one never names a process.
    std::ifstream maxFile("/proc/sys/kernel/pid_max");
    long pidMax = 0;
    maxFile >> pidMax;
    ASSERT_GT(pidMax, 0);
    ToolRun run = runTool({"--process", std::to_string(pidMax)});
    EXPECT_EQ(run.status, exitedWith(1));
    EXPECT_EQ(run.err, "process identity: No such file or directory\n");
    EXPECT_EQ(run.out, "");
}

// The start time as the kernel writes it: field 22, counting from the last ") ".
std::string startTimeOf(pid_t pid) {
    std::ifstream statFile("/proc/" + std::to_string(pid) + "/stat");
    std::string stat((std::istreambuf_iterator<char>(statFile)), std::istreambuf_iterator<char>());
    std::istringstream fields(stat.substr(stat.rfind(") ") + 2));
    std::string field;
    for (int number = 3; number <= 22; ++number) fields >> field;
    return field;
}

TEST(ProcessIdentity, NameWithParenthesesAndAnotherUid) {
    // A program whose name holds ") " and that runs under UID 12345.
    ScopedTempDir temp;
    std::filesystem::permissions(temp.path(), std::filesystem::perms(0755));
    const auto program = temp / "a) b) c";
    std::filesystem::copy_file("/bin/sleep", program);
    ChildProcess sleeper({"/usr/bin/setpriv", "--reuid=12345", "--regid=12345", "--clear-groups",
                          program.string(), "30"});
    // Wait until the exec has happened, so the name and UID are the program's.
    std::string comm;
    for (int attempt = 0; attempt < 500 && comm != "a) b) c\n"; ++attempt) {
        usleep(10000);
        comm = pelko::testing::readFile("/proc/" + std::to_string(sleeper.pid()) + "/comm");
    }
    ASSERT_EQ(comm, "a) b) c\n");
    const std::string started = startTimeOf(sleeper.pid());
    ASSERT_FALSE(started.empty());

    ToolRun run = runTool({"--process", std::to_string(sleeper.pid())});
    EXPECT_EQ(run.status, exitedWith(0));
    EXPECT_EQ(run.out, "{\"uid\":12345,\"started\":\"" + started + "\"}\n");
    EXPECT_EQ(run.err, "");
}

/// Runs --process 42 in a private mount namespace whose /proc is an empty tmpfs except for the
/// stat file and (when given) the status file written by the test.
ToolRun processFromFakeProc(const std::string& stat, const std::string* status) {
    ScopedTempDir temp;
    pelko::testing::writeFile(temp / "stat", stat);
    if (status != nullptr) pelko::testing::writeFile(temp / "status", *status);
    ChildProcess tool({"/usr/bin/unshare", "-m", "/bin/sh", "-c",
                       "set -e\n"
                       "mount --make-rprivate /\n"
                       "mount -t tmpfs none /proc\n"
                       "mkdir /proc/42\n"
                       "cp \"$1/stat\" /proc/42/stat\n"
                       "if [ -e \"$1/status\" ]; then cp \"$1/status\" /proc/42/status; fi\n"
                       "exec \"$0\" --process 42\n",
                       toolPath(), temp.path().string()},
                      nullStdin());
    ToolRun run;
    run.out = tool.readToEnd();
    run.status = tool.waitExit().value_or(ExitStatus{});
    run.err = tool.stderrText();
    return run;
}

// A stat line whose field 22 (the start time) is `startTime`, after the name `name`.
std::string statLine(const std::string& name, const std::string& startTime) {
    std::string line = "42 (" + name + ") S";
    for (int field = 4; field < 22; ++field) line += " " + std::to_string(field);
    return line + " " + startTime + " 23 24 25\n";
}

TEST(ProcessIdentity, ParsesTheKernelsFilesStrictly) {
    if (!namespaceAllowed("-m")) GTEST_SKIP() << "the kernel refuses a private mount namespace";
    const std::string status = "Name:\tx\nUmask:\t0077\nUid:\t10123\t10124\t10125\t10126\n";
    ToolRun good = processFromFakeProc(statLine("x) (y", "987654321"), &status);
    EXPECT_EQ(good.status, exitedWith(0)) << good.err;
    EXPECT_EQ(good.out, "{\"uid\":10123,\"started\":\"987654321\"}\n");

    const std::string noUid = "Name:\tx\nGid:\t1\n";
    const std::string uidWithoutNumber = "Uid:\tnone\n";
    const struct {
        std::string stat;
        const std::string* status;
    } failures[] = {
        {"42 x S 1 2 3\n", &status},             // no ")"
        {"42 (x) S 4 5 6 7 8 9 10\n", &status},  // too few fields
        {statLine("x", "98x"), &status},         // not a number
        {statLine("x", "-5"), &status},          // not unsigned
        {statLine("x", "987654321"), &noUid},    // no "Uid:" line
        {statLine("x", "987654321"), &uidWithoutNumber},
        {statLine("x", "987654321"), nullptr},  // no status file
    };
    for (const auto& failure : failures) {
        ToolRun run = processFromFakeProc(failure.stat, failure.status);
        EXPECT_EQ(run.status, exitedWith(1)) << failure.stat;
        EXPECT_EQ(run.out, "") << failure.stat;
        EXPECT_EQ(run.err, "") << failure.stat;
    }
}

TEST(Binary, NeedsNoSharedLibraryButTheCLibrary) {
    ChildProcess readelf({"/usr/bin/readelf", "-d", toolPath()}, nullStdin());
    const std::string dynamic = readelf.readToEnd();
    ASSERT_EQ(readelf.waitExit(), exitedWith(0));
    std::istringstream lines(dynamic);
    int needed = 0;
    for (std::string line; std::getline(lines, line);) {
        if (line.find("(NEEDED)") == std::string::npos) continue;
        ++needed;
        EXPECT_NE(line.find("[libc.so"), std::string::npos) << line;
    }
    EXPECT_EQ(needed, 1) << dynamic;
}

// A host that stops reading: the write fails and the tool exits 1; it is not killed by SIGPIPE.
// The reading end is closed before the tool starts, so even its first write finds no reader.
ExitStatus runIntoClosedPipe(const std::vector<std::string>& arguments) {
    std::vector<std::string> argv{toolPath()};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    std::vector<char*> args;
    for (auto& argument : argv) args.push_back(argument.data());
    args.push_back(nullptr);
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) return {};
    close(ends[0]);
    const pid_t tool = fork();
    if (tool == 0) {
        signal(SIGPIPE, SIG_DFL);
        dup2(ends[1], 1);
        execv(args[0], args.data());
        _exit(127);
    }
    close(ends[1]);
    return waitFor(tool);
}
TEST(CommandLine, ClosedOutputIsAFailureNotADeath) {
    ScopedTempDir app;
    pelko::testing::writeFile(app / "file", std::string(200000, 'x'));
    EXPECT_EQ(runIntoClosedPipe({"--app-read", app.path().string(), "0", "file"}), exitedWith(1));
    EXPECT_EQ(runIntoClosedPipe({"--version"}), exitedWith(1));
    // The capture fails on its header (a packet socket needs root, which the tests have).
    EXPECT_EQ(runIntoClosedPipe({"1", "2048"}), exitedWith(1));
}

}  // namespace
}  // namespace pelko::packets::testing

// Programs run under the tool: the supervised program and the screen recorder, with their
// statuses, stop signals, process groups and the finalising deadline.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "tool-run.h"

namespace pelko::packets::testing {
namespace {

using pelko::testing::readFile;

/// Whether process `pid` has ended (gone, or a zombie nobody reaped yet), waiting up to 10 s.
bool processEnds(const std::string& pid) {
    for (int attempt = 0; attempt < 1000; ++attempt) {
        std::ifstream stat("/proc/" + pid + "/stat");
        std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
        if (text.empty() || text.find(") Z ") != std::string::npos) return true;
        usleep(10000);
    }
    return false;
}

TEST(Supervise, PassesTheProgramsStatusAndArguments) {
    ToolRun three = runTool({"--supervise", "/bin/sh", "-c", "exit 3"});
    EXPECT_EQ(three.status, exitedWith(3));
    EXPECT_EQ(three.err, "");

    ToolRun echo = runTool({"--supervise", "/bin/echo", "a", "b  c"});
    EXPECT_EQ(echo.status, exitedWith(0));
    EXPECT_EQ(echo.out, "a b  c\n");

    ToolRun killed = runTool({"--supervise", "/bin/sh", "-c", "kill -KILL $$"});
    EXPECT_EQ(killed.status, exitedWith(1));
}

TEST(Supervise, ProgramThatCannotBeExecuted) {
    ToolRun missing = runTool({"--supervise", "/nonexistent/program"});
    EXPECT_EQ(missing.status, exitedWith(1));
    EXPECT_EQ(missing.err, "exec helper: No such file or directory\n");

    // The path is used exactly as passed: no search of the command path.
    ToolRun bare = runTool({"--supervise", "sh", "-c", "exit 0"});
    EXPECT_EQ(bare.status, exitedWith(1));
    EXPECT_EQ(bare.err, "exec helper: No such file or directory\n");

    ScopedTempDir temp;
    pelko::testing::writeFile(temp / "not-executable", "#!/bin/sh\n");
    ToolRun denied = runTool({"--supervise", (temp / "not-executable").string()});
    EXPECT_EQ(denied.status, exitedWith(1));
    EXPECT_EQ(denied.err, "exec helper: Permission denied\n");
}

TEST(Supervise, StopSignalEndsTheWholeProcessGroup) {
    // The program and its own child both ignore the termination signal; the kill that follows
    // it must still reach the grandchild.
    for (int stopSignal : {SIGTERM, SIGINT}) {
        ChildProcess tool(
            {toolPath(), "--supervise", "/bin/sh", "-c", "trap '' TERM; sleep 60 & echo $!; wait"});
        const auto grandchild = tool.readLine();
        ASSERT_TRUE(grandchild.has_value());
        tool.signal(stopSignal);
        EXPECT_EQ(tool.waitExit(), exitedWith(1));
        EXPECT_TRUE(processEnds(*grandchild)) << "sleep " << *grandchild << " still runs";
        EXPECT_EQ(tool.stderrText(), "");
    }
}

TEST(Supervise, DeathOfTheParentStopsIt) {
    // The tool's parent is a shell that leaves as soon as the supervised program runs.
    ScopedTempDir temp;
    const std::string marker = (temp / "running").string();
    ChildProcess parent(
        {"/bin/sh", "-c",
         "\"$0\" --supervise /bin/sh -c 'echo $$; : > \"$0\"; exec sleep 60' \"$1\" &\n"
         "while [ ! -e \"$1\" ]; do sleep 0.02; done",
         toolPath(), marker});
    const auto program = parent.readLine();
    ASSERT_TRUE(program.has_value());
    EXPECT_EQ(parent.waitExit(), exitedWith(0));
    EXPECT_TRUE(processEnds(*program)) << "the supervised program " << *program << " still runs";
}

TEST(Supervise, ParentGoneBeforeTheToolAsksStopsItAtOnce) {
    // The kernel reports only deaths after the request; the tool must notice the one before.
    // The test takes in the orphaned tool (as a subreaper) to learn how it ends.
    ASSERT_EQ(prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
    ScopedTempDir temp;
    const std::string go = (temp / "go").string();
    ChildOptions options;
    options.environment = {{"LD_PRELOAD", shimPath()}, {"PELKO_SHIM_ORPHAN", go}};
    ChildProcess parent(
        {"/bin/sh", "-c", "\"$0\" --supervise /bin/sleep 60 & echo $!; wait", toolPath()}, options);
    const auto toolPid = parent.readLine();
    ASSERT_TRUE(toolPid.has_value());
    pelko::testing::writeFile(go, "");  // the shim now kills the parent
    const auto parentEnd = parent.waitExit();
    ASSERT_TRUE(parentEnd.has_value());
    EXPECT_EQ(parentEnd->signal, SIGKILL);

    const pid_t tool = std::stoi(*toolPid);
    int raw = 0;
    pid_t ended = 0;
    for (int attempt = 0; attempt < 1000 && ended == 0; ++attempt) {
        ended = waitpid(tool, &raw, WNOHANG);
        if (ended == 0) usleep(10000);
    }
    if (ended == 0) {  // still supervising: end it, and the test fails
        kill(tool, SIGTERM);
        waitpid(tool, &raw, 0);
    }
    EXPECT_EQ(ended, tool) << "the orphaned tool went on supervising";
    EXPECT_TRUE(WIFEXITED(raw) && WEXITSTATUS(raw) == 1);
}

class Record : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!namespaceAllowed("-m")) GTEST_SKIP() << "the kernel refuses a private mount namespace";
    }
    /// The recorder script: notes its arguments, then does `rest`.
    void recorder(const std::string& rest) {
        root_.installRecorder("echo \"$@\" > /out/arguments\n" + rest);
    }
    std::vector<std::string> command(const std::vector<std::string>& arguments,
                                     const std::vector<std::string>& environment = {}) {
        if (!environment.empty()) root_.installShim();
        return root_.command(arguments, environment);
    }
    std::string outFile(const char* name) const { return readFile(root_.root() / "out" / name); }

  private:
    FakeSystemRoot root_;
};

// Finishes the file and exits 0 on the interrupt.
const std::string finalisingRecorder =
    "trap 'echo finalised > /out/state; exit 0' INT\n"
    "echo started\n"
    "while :; do sleep 0.05; done\n";

TEST_F(Record, FullRecordingFinalisesAndSucceeds) {
    recorder(finalisingRecorder);
    ChildProcess tool(command({"--record", "2", "/out/video.mp4"}));
    EXPECT_EQ(tool.readLine(), "started");
    EXPECT_EQ(tool.waitExit(), exitedWith(0));
    EXPECT_EQ(tool.stderrText(), "");
    EXPECT_EQ(outFile("arguments"), "--bit-rate 4000000 /out/video.mp4\n");
    EXPECT_EQ(outFile("state"), "finalised\n");
}

TEST_F(Record, StoppedEarlyIsAFailureEvenWhenFinalised) {
    recorder(finalisingRecorder);
    ChildProcess tool(command({"--record", "30", "/out/video.mp4"}));
    ASSERT_EQ(tool.readLine(), "started");
    tool.signal(SIGINT);
    EXPECT_EQ(tool.waitExit(), exitedWith(1));
    EXPECT_EQ(outFile("state"), "finalised\n");
    EXPECT_EQ(tool.stderrText(), "");
}

TEST_F(Record, RecorderIgnoringTheInterruptIsKilledAfterEightSeconds) {
    recorder("trap '' INT\necho started\necho $$\nsleep 60 & echo $!\nwait\n");
    ChildProcess tool(command({"--record", "1", "/out/video.mp4"}));
    ASSERT_EQ(tool.readLine(), "started");
    const auto recorderPid = tool.readLine();
    const auto childPid = tool.readLine();
    ASSERT_TRUE(recorderPid && childPid);
    EXPECT_EQ(tool.waitExit(std::chrono::seconds(15)), exitedWith(1));
    EXPECT_EQ(tool.stderrText(), "Screen recorder did not finalize before its deadline\n");
    // The kill went to the recorder's whole group. (Pids as seen inside the namespace are
    // the machine's: only the mount namespace is private.)
    EXPECT_TRUE(processEnds(*recorderPid));
    EXPECT_TRUE(processEnds(*childPid));
}

TEST_F(Record, StopBeforeTheRecorderStartsIsNotLost) {
    // The stop comes while the recorder's process exists but has not yet started the program:
    // the interrupt sent to it then must still end it, not wait out the finalising deadline.
    recorder(finalisingRecorder);
    ChildProcess tool(command({"--record", "30", "/out/video.mp4"},
                              {"LD_PRELOAD=/shim.so", "PELKO_SHIM_STOP_BEFORE_EXEC=1"}));
    EXPECT_EQ(tool.waitExit(std::chrono::seconds(15)), exitedWith(1));
    EXPECT_EQ(tool.stderrText(), "");
}

TEST_F(Record, RecorderEndingByItselfPassesItsStatus) {
    recorder("exit 7\n");
    EXPECT_EQ(ChildProcess(command({"--record", "180", "/out/v.mp4"})).waitExit(), exitedWith(7));
    recorder("kill -KILL $$\n");
    EXPECT_EQ(ChildProcess(command({"--record", "5 seconds", "/out/v.mp4"})).waitExit(),
              exitedWith(1));
    recorder("exit 0\n");
    ChildProcess zero(command({"--record", "1", "/out/v.mp4"}));
    EXPECT_EQ(zero.waitExit(), exitedWith(0));
    EXPECT_EQ(zero.stderrText(), "");
}

TEST(RecordWithoutRecorder, MissingRecorderFailsWithoutAMessage) {
    if (!namespaceAllowed("-m")) GTEST_SKIP() << "the kernel refuses a private mount namespace";
    FakeSystemRoot root;  // an empty /system/bin
    ChildProcess tool(root.command({"--record", "3", "/out/v.mp4"}));
    EXPECT_EQ(tool.waitExit(), exitedWith(1));
    EXPECT_EQ(tool.stderrText(), "");
}

}  // namespace
}  // namespace pelko::packets::testing

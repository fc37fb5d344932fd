// The pelko-notifier program from the outside: exit statuses, standard error, a real resident
// started by the client, concurrent residents, crashes and a second user. Every test has its
// own runtime folder, so concurrent tests never share a resident.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <set>
#include <sstream>
#include <thread>

#include "child-process.h"
#include "resident-log.h"

namespace pelko::notifier {
namespace {

using pelko::testing::ChildOptions;
using pelko::testing::ChildProcess;
using pelko::testing::ExitStatus;
using pelko::testing::ScopedTempDir;
using Timeout = pelko::testing::Timeout;

const ExitStatus exited0{true, 0, 0};
const ExitStatus exited2{true, 2, 0};
const ExitStatus exited3{true, 3, 0};

struct Outcome {
    std::optional<ExitStatus> status;
    std::string out;
    std::string err;
};

class Program : public ::testing::Test {
  protected:
    void SetUp() override { ::chmod(runtime.path().c_str(), 0700); }
    void TearDown() override {
        // Residents the clients started are ours to end.
        for (pid_t pid : residents()) ::kill(pid, SIGKILL);
    }

    ChildOptions options() const {
        ChildOptions o;
        o.environment = {{"XDG_RUNTIME_DIR", runtime.path().string()},
                         {"PELKO_NOTIFIER_LOG", logPath().string()}};
        o.nullStdin = true;
        // Without a display the resident shows its cards on the simulated desktop, whose log
        // these tests read (the X11 cards have tests of their own, on a desktop of their own).
        o.unset = {"DISPLAY"};
        return o;
    }
    Outcome run(std::vector<std::string> args, std::vector<std::string> prefix = {}) {
        std::vector<std::string> argv = prefix;
        argv.push_back(NOTIFIER_BINARY);
        argv.insert(argv.end(), args.begin(), args.end());
        ChildProcess client(argv, options());
        Outcome outcome;
        outcome.out = client.readToEnd(Timeout(15000));
        outcome.status = client.waitExit(Timeout(15000));
        outcome.err = client.stderrText();
        return outcome;
    }

    std::filesystem::path logPath() const { return logs / "resident.log"; }
    std::string log() const { return pelko::testing::readFile(logPath()); }
    /// Waits (up to ten seconds) until the residents' log holds `text`.
    bool waitForLog(const std::string& text) const {
        for (int i = 0; i < 1000; ++i) {
            if (log().find(text) != std::string::npos) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }
    std::vector<pid_t> residents() const { return notifier::testing::residentsIn(log()); }
    bool runtimeEmpty() const { return std::filesystem::is_empty(runtime.path()); }

    ScopedTempDir runtime;
    ScopedTempDir logs;
};

TEST_F(Program, BadCommandLinesExitTwoAndStartNothing) {
    for (std::vector<std::string> args : {std::vector<std::string>{},
                                          {"frob"},
                                          {"post", "--id", "a"},
                                          {"post", "--title", "t"},
                                          {"post", "--title", "t", "--id"}}) {
        Outcome outcome = run(args);
        EXPECT_EQ(outcome.status, exited2) << args.size();
        EXPECT_EQ(outcome.out, "");
        EXPECT_EQ(outcome.err, "");
    }
    EXPECT_TRUE(runtimeEmpty());
}

TEST_F(Program, ClearWithoutResidentSucceedsAndStartsNothing) {
    for (std::vector<std::string> args :
         {std::vector<std::string>{"clear"}, {"clear", "--id", "a", "--id", "b"}}) {
        Outcome outcome = run(args);
        EXPECT_EQ(outcome.status, exited0);
        EXPECT_EQ(outcome.out + outcome.err, "");
    }
    EXPECT_TRUE(runtimeEmpty());
    EXPECT_EQ(log(), "");
}

TEST_F(Program, PostsReachTheResidentItStarts) {
    Outcome first = run({"post", "--id", "a", "--title", "Build finished"});
    EXPECT_EQ(first.status, exited0);
    EXPECT_EQ(first.out + first.err, "");
    ASSERT_TRUE(waitForLog("panel 1 created"));
    ASSERT_EQ(residents().size(), 1u);
    EXPECT_EQ(log().find("windowing simulated: no X display answered\n"), log().find(' ') + 1)
        << "the log's first line names the windowing";

    EXPECT_EQ(run({"post", "--id", "b", "--title", "Input", "--kind", "input"}).status, exited0);
    ASSERT_TRUE(waitForLog("panel 2 created"));
    // The same id again updates card a in place: no third panel.
    EXPECT_EQ(run({"post", "--id", "a", "--title", "Again"}).status, exited0);
    EXPECT_EQ(run({"clear", "--id", "a", "--id", "b"}).status, exited0);
    ASSERT_TRUE(waitForLog("panel 1 closed"));
    ASSERT_TRUE(waitForLog("panel 2 closed"));
    EXPECT_EQ(log().find("panel 3"), std::string::npos);
    EXPECT_EQ(residents().size(), 1u);  // every post went to the one resident
}

TEST_F(Program, ResidentKeepsNoneOfTheClientsFiles) {
    // A pipe the client inherits, as a host's pipes might be: once the client has ended, only
    // the resident could still hold its write end open.
    int pipeEnds[2];
    ASSERT_EQ(::pipe(pipeEnds), 0);
    EXPECT_EQ(run({"post", "--id", "a", "--title", "t"}).status, exited0);
    ASSERT_EQ(residents().size(), 1u);
    ::close(pipeEnds[1]);
    pollfd end{pipeEnds[0], POLLIN, 0};
    ASSERT_EQ(::poll(&end, 1, 10000), 1) << "the write end is still open somewhere";
    char byte;
    EXPECT_EQ(::read(pipeEnds[0], &byte, 1), 0);
    ::close(pipeEnds[0]);
}

TEST_F(Program, ConcurrentResidentsLeaveExactlyOne) {
    std::vector<std::unique_ptr<ChildProcess>> servers;
    for (int i = 0; i < 4; ++i) {
        // Only the first argument counts: "serve" with more after it is still the resident.
        std::vector<std::string> argv{NOTIFIER_BINARY, "serve"};
        if (i % 2) argv.push_back("extra");
        servers.push_back(std::make_unique<ChildProcess>(argv, options()));
    }
    size_t ended = 0;
    for (int round = 0; round < 100 && ended < 3; ++round) {
        ended = 0;
        for (auto& server : servers)
            if (server->waitExit(Timeout(50))) ++ended;
    }
    ASSERT_EQ(ended, 3u);
    for (auto& server : servers) {
        auto status = server->waitExit(Timeout(100));
        if (status) {
            EXPECT_EQ(*status, exited0);
        }
        EXPECT_EQ(server->stderrText(), "");
    }
    ASSERT_EQ(residents().size(), 1u);
    EXPECT_EQ(run({"post", "--id", "a", "--title", "t"}).status, exited0);
    EXPECT_TRUE(waitForLog("panel 1 created"));
    EXPECT_EQ(residents().size(), 1u);
}

TEST_F(Program, CrashedResidentIsReplaced) {
    EXPECT_EQ(run({"post", "--id", "a", "--title", "t"}).status, exited0);
    ASSERT_TRUE(waitForLog("panel 1 created"));
    ASSERT_EQ(residents().size(), 1u);
    pid_t crashed = residents()[0];
    ASSERT_EQ(::kill(crashed, SIGKILL), 0);
    // Wait until it is gone: its process group no longer exists.
    for (int i = 0; i < 500 && ::kill(crashed, 0) == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));

    EXPECT_EQ(run({"post", "--id", "b", "--title", "t"}).status, exited0);
    ASSERT_EQ(residents().size(), 2u);
    EXPECT_NE(residents()[1], crashed);
}

TEST_F(Program, GivesUpWhenNoResidentCanStart) {
    // A runtime folder that others may enter is never used: no resident can register there.
    ::chmod(runtime.path().c_str(), 0755);
    Outcome outcome = run({"post", "--id", "a", "--title", "t"});
    EXPECT_EQ(outcome.status, exited3);
    EXPECT_EQ(outcome.err, "pelko-notifier: resident did not start\n");
    EXPECT_EQ(outcome.out, "");
    EXPECT_TRUE(runtimeEmpty());
    EXPECT_TRUE(residents().empty());
}

TEST_F(Program, AnotherUsersClientCannotPost) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to run a client as a second user";
    const std::vector<std::string> asNobody{"/usr/bin/setpriv", "--reuid=65534", "--regid=65534",
                                            "--clear-groups"};
    {
        std::vector<std::string> probe = asNobody;
        probe.insert(probe.end(), {"/usr/bin/test", "-x", NOTIFIER_BINARY});
        ChildProcess check(probe);
        if (check.waitExit() != exited0) GTEST_SKIP() << "the second user cannot run the program";
    }
    EXPECT_EQ(run({"post", "--id", "mine", "--title", "t"}).status, exited0);
    ASSERT_TRUE(waitForLog("panel 1 created"));

    // Pointed at this user's runtime folder, the stranger's client finds no resident it may
    // use, and its own resident cannot register there either.
    Outcome outcome = run({"post", "--id", "theirs", "--title", "t"}, asNobody);
    EXPECT_EQ(outcome.status, exited3);
    EXPECT_EQ(outcome.err, "pelko-notifier: resident did not start\n");
    EXPECT_EQ(log().find("panel 2"), std::string::npos);
    EXPECT_EQ(residents().size(), 1u);
}

}  // namespace
}  // namespace pelko::notifier

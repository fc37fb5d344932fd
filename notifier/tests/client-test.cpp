// The client's exit statuses, messages and its wait for a resident, in virtual time.
#include <gtest/gtest.h>

#include <sstream>

#include "client.h"
#include "fake-ports.h"

namespace pelko::notifier {
namespace {

using testing::FakePorts;

struct ClientRun {
    FakePorts ports;
    VirtualClock clock;
    std::ostringstream errors;
    std::vector<double> launchTimes;  ///< seconds since the client started

    int run(const std::vector<std::string>& args) {
        ClientEnvironment environment{
            ports, clock, [this] { launchTimes.push_back(inSeconds(clock.elapsed())); }, errors};
        return runClient(args, environment);
    }
};

TEST(Client, RunningResidentAcceptsTheMessageAtOnce) {
    ClientRun client;
    client.ports.answers = [](const auto&) { return true; };
    EXPECT_EQ(client.run({"post", "--id", "a", "--title", "Done"}), 0);
    ASSERT_EQ(client.ports.requests.size(), 1u);
    const auto& request = client.ports.requests[0];
    EXPECT_EQ(request.name, "pelko.code.notifier");
    EXPECT_EQ(request.messageId, 1);
    EXPECT_EQ(request.payload, R"({"cmd":"post","id":"a","title":"Done"})");
    EXPECT_EQ(request.timeout, seconds(2));
    EXPECT_TRUE(client.launchTimes.empty());
    EXPECT_EQ(client.errors.str(), "");
    EXPECT_EQ(client.clock.elapsed(), Duration::zero());
}

TEST(Client, BadCommandLinesExitTwoWithoutSendingOrStarting) {
    for (std::vector<std::string> args : {std::vector<std::string>{},
                                          {"frob"},
                                          {"post", "--id", "a"},
                                          {"post", "--title", "t", "--id"}}) {
        ClientRun client;
        EXPECT_EQ(client.run(args), 2);
        EXPECT_TRUE(client.ports.requests.empty());
        EXPECT_TRUE(client.launchTimes.empty());
        EXPECT_EQ(client.errors.str(), "");
    }
}

TEST(Client, ClearWithoutResidentStartsNothing) {
    ClientRun client;
    EXPECT_EQ(client.run({"clear", "--id", "a"}), 0);
    EXPECT_EQ(client.ports.requests.size(), 1u);
    EXPECT_TRUE(client.launchTimes.empty());
    EXPECT_EQ(client.errors.str(), "");
}

TEST(Client, StartsResidentAndSendsOnceItAnswers) {
    ClientRun client;
    // The resident answers from the third try on (the first wait slice after launching).
    client.ports.answers = [&](const auto&) { return client.ports.requests.size() >= 3; };
    EXPECT_EQ(client.run({"post", "--id", "a", "--title", "t"}), 0);
    EXPECT_EQ(client.launchTimes, std::vector<double>{0.0});
    EXPECT_EQ(client.clock.pauses(), (std::vector<Duration>{seconds(0.1), seconds(0.1)}));
    for (const auto& request : client.ports.requests)
        EXPECT_EQ(request.payload, R"({"cmd":"post","id":"a","title":"t"})");
    EXPECT_EQ(client.errors.str(), "");
}

TEST(Client, GivesUpAfterFiveSecondsWithFourLaunches) {
    ClientRun client;
    EXPECT_EQ(client.run({"post", "--id", "a", "--title", "t"}), 3);
    EXPECT_EQ(client.errors.str(), "pelko-notifier: resident did not start\n");
    ASSERT_EQ(client.launchTimes.size(), 4u);
    for (size_t i = 0; i < 4; ++i) EXPECT_NEAR(client.launchTimes[i], 1.5 * i, 1e-6);
    EXPECT_NEAR(inSeconds(client.clock.elapsed()), 5.0, 1e-6);
    for (Duration pause : client.clock.pauses()) EXPECT_EQ(pause, seconds(0.1));
    // One send before the loop and one after every wait slice.
    EXPECT_EQ(client.ports.requests.size(), client.clock.pauses().size() + 1);
}

TEST(Client, OwnExecutableIsAbsoluteWithLinksResolved) {
    auto resolved = ownExecutable("/proc/self/exe");
    EXPECT_TRUE(resolved.is_absolute());
    EXPECT_FALSE(std::filesystem::is_symlink(resolved));
    EXPECT_EQ(resolved, std::filesystem::canonical("/proc/self/exe"));
    // A bare name was found through PATH, not in the current folder: the running program.
    EXPECT_EQ(ownExecutable("pelko-notifier"), std::filesystem::canonical("/proc/self/exe"));
}

}  // namespace
}  // namespace pelko::notifier

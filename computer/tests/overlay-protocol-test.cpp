// The banner and the Escape stop through the real program: requests on standard input, the
// user's key presses through the simulated desktop's control channel, lines on standard output.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "child-process.h"
#include "json-line.h"

namespace pelko::computer {
namespace {

using pelko::testing::ChildProcess;
using pelko::testing::ScopedTempDir;

const JSON testScene = JSON::parse(R"({"apps": [{"name": "Notes", "pid": 10, "active": true}]})");

class EscapeStop : public ::testing::Test {
  protected:
    void SetUp() override {
        pelko::testing::writeFile(dir / "scene.json", testScene.dump());
        ASSERT_EQ(mkfifo((dir / "control").c_str(), 0600), 0);
        pelko::testing::ChildOptions options;
        options.environment = {{"PELKO_SCENE", (dir / "scene.json").string()},
                               {"PELKO_SIM_LOG", (dir / "calls.log").string()},
                               {"PELKO_SIM_CONTROL", (dir / "control").string()}};
        child = std::make_unique<ChildProcess>(std::vector<std::string>{PELKO_COMPUTER}, options);
        ASSERT_EQ(nextLine()["event"], "ready");
        // The program opened the channel before writing `ready`, so this does not block.
        control = open((dir / "control").c_str(), O_WRONLY | O_CLOEXEC);
        ASSERT_GE(control, 0);
    }
    void TearDown() override {
        if (control >= 0) close(control);
    }

    JSON nextLine() {
        const auto line = child->readLine();
        if (!line) return JSON();
        const auto value = parseJSON(*line);
        return value ? *value : JSON();
    }
    JSON request(const std::string& line) {
        child->writeLine(line);
        return nextLine();
    }
    /// The user (or, with the program's mark, the program itself) presses a key.
    void keyPressed(int keyCode, int64_t mark) {
        const std::string line =
            JSON{{"do", "key"}, {"keyCode", keyCode}, {"mark", mark}}.dump() + "\n";
        ASSERT_EQ(write(control, line.data(), line.size()), static_cast<ssize_t>(line.size()));
    }

    ScopedTempDir dir;
    std::unique_ptr<ChildProcess> child;
    int control = -1;
};

const JSON okReply = JSON::parse(R"({"id": 1, "result": {"ok": true}})");

TEST_F(EscapeStop, UserEscapeWhileTheBannerIsShownWritesOneStop) {
    keyPressed(53, 0);
    EXPECT_TRUE(child->silentFor(std::chrono::milliseconds(300))) << "no banner yet";

    EXPECT_EQ(request(R"({"id": 1, "method": "banner", "params": {"show": true}})"), okReply);
    // The program's own Escape comes first; had it written a stop, that line would come first.
    keyPressed(53, 0x50454C4B);
    keyPressed(36, 0);
    keyPressed(53, 0);
    EXPECT_EQ(nextLine(), JSON::parse(R"({"event": "stop"})"));
    EXPECT_EQ(request(R"({"id": 2, "method": "banner", "params": {"show": false}})"),
              JSON::parse(R"({"id": 2, "result": {"ok": true}})"))
        << "exactly one stop line came before this reply";

    keyPressed(53, 0);
    EXPECT_TRUE(child->silentFor(std::chrono::milliseconds(300))) << "the banner is hidden";
    EXPECT_EQ(request(R"({"id": 3, "method": "ping"})"),
              JSON::parse(R"({"id": 3, "result": {"pong": true}})"));
}

TEST_F(EscapeStop, BannerShowsAndHidesAPanelOnTheDesktop) {
    EXPECT_EQ(
        request(
            R"({"id": 1, "method": "banner", "params": {"show": true, "text": "Working on Notes"}})"),
        okReply);
    EXPECT_EQ(request(R"({"id": 1, "method": "banner"})"), okReply);
    std::vector<std::string> panelCalls;
    const std::string log = pelko::testing::readFile(dir / "calls.log");
    for (size_t start = 0, end; (end = log.find('\n', start)) != std::string::npos;
         start = end + 1) {
        const JSON entry = JSON::parse(log.substr(start, end - start));
        const std::string call = entry["call"];
        if (call == "setLabelText") {
            EXPECT_EQ(entry["text"], "Working on Notes");
        }
        if (call != "becomeAccessory") panelCalls.push_back(call);
    }
    EXPECT_EQ(panelCalls,
              (std::vector<std::string>{"createPanel", "setPanelContent", "setLabelText",
                                        "setPanelFrame", "orderFront", "orderOut"}));
}

}  // namespace
}  // namespace pelko::computer

// Chromium: a form in a page filled, sent and answered, all read through the outline; a long
// page read as far as it shows, then at its end; and Chromium opened from its desktop entry,
// with no flags, shows its page once the program has asked for its tree.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include "desktop-apps.h"

namespace pelko::computer::testing {
namespace {

// Chromium refuses to start as root inside its sandbox.
std::vector<std::string> chromium(const std::vector<std::string>& arguments) {
    std::vector<std::string> argv = {"chromium"};
    if (geteuid() == 0) argv.push_back("--no-sandbox");
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return argv;
}

TEST(Chromium, AFormInAPageIsFilledSentAndAnswered) {
    SKIP_WITHOUT_APP("chromium");
    DesktopComputer computer;
    const std::string profile = std::string(std::getenv("HOME")) + "/chromium-form";
    StartedApp browser(
        chromium({"--user-data-dir=" + profile, "--no-first-run", pageURL("order-form.html")}));
    ASSERT_TRUE(awaitApp(computer, "Chromium").contains("pid"));
    const JSON page = {{"app", "Chromium"}, {"window", "Order form"}};
    const Found field = awaitLine(computer, page, R"(\] field "Name")");
    ASSERT_GT(field.index, 0);
    const std::string tree = computer.result("state", page).value("tree", "");
    EXPECT_TRUE(hasLine(tree, R"(\] webpage "Order form")")) << tree;
    // Toolkit actions that only forward or open the context menu are not listed.
    EXPECT_FALSE(hasLine(tree, R"(showContextMenu|doDefault|clickAncestor)")) << tree;

    const int64_t name = indexOf(tree, R"(\] field "Name")");
    const int64_t terms = indexOf(tree, R"(\] checkbox "I accept the terms" \(off\))");
    const int64_t send = indexOf(tree, R"(\] button "Send")");
    ASSERT_TRUE(name > 0 && terms > 0 && send > 0) << tree;
    // Chromium's fields have no editable-text interface: the value goes in as keys.
    EXPECT_EQ(computer.request("setValue", {{"app", "Chromium"}, {"index", name}, {"value", "x"}})
                  .value("code", ""),
              "failed");
    EXPECT_EQ(computer
                  .result("typeText",
                          {{"app", "Chromium"}, {"index", name}, {"text", "Ada"}, {"front", true}})
                  .value("via", ""),
              "keys");
    EXPECT_EQ(computer.result("click", {{"app", "Chromium"}, {"index", terms}}),
              JSON({{"via", "press"}}));
    EXPECT_EQ(computer.result("click", {{"app", "Chromium"}, {"index", send}}),
              JSON({{"via", "press"}}));
    EXPECT_GT(
        awaitLine(computer, page, R"(\] text "Thank you, Ada\. Your order is on its way\.")").index,
        0);
}

TEST(Chromium, ALongPageShowsWhatIsOnScreenAndItsEndOnceScrolledThere) {
    SKIP_WITHOUT_APP("chromium");
    DesktopComputer computer;
    // Hundreds of paragraphs, a few dozen on screen: the page lists only those.
    const std::string home = std::getenv("HOME");
    StartedApp browser(chromium({"--user-data-dir=" + home + "/chromium-long", "--no-first-run",
                                 writeLongPage(home, 300)}));
    ASSERT_TRUE(awaitApp(computer, "Chromium").contains("pid"));
    readLongPage(computer, "Chromium", 300);
}

TEST(Chromium, OpenedWithoutFlagsItShowsItsPageAtTheSecondRead) {
    SKIP_WITHOUT_APP("chromium");
    DesktopComputer computer;
    EXPECT_EQ(computer.result("requestAccess"),
              JSON({{"accessibility", true}, {"screenRecording", true}}));
    // From its desktop entry, as a user starts it. As root Chromium starts only without its
    // sandbox: the session's user then has an entry of their own that says so, found before
    // the system's.
    if (geteuid() == 0) {
        const std::string folder = std::string(std::getenv("HOME")) + "/.local/share/applications";
        std::filesystem::create_directories(folder);
        std::ifstream system("/usr/share/applications/chromium.desktop");
        std::ofstream own(folder + "/chromium.desktop");
        for (std::string line; std::getline(system, line);) {
            if (line.starts_with("Exec=/usr/bin/chromium"))
                line.insert(std::string("Exec=/usr/bin/chromium").size(), " --no-sandbox");
            own << line << "\n";
        }
    }
    const JSON browser = openApp(computer, "Chromium");
    ASSERT_TRUE(browser.contains("pid")) << browser;
    // Its new tab page loads for a while on a busy machine; the window's title says when it is
    // there (listing windows reads no tree).
    for (int attempt = 0; attempt < 200; ++attempt) {
        const JSON titles = appNamed(computer.result("listApps"), "Chromium Web Browser")
                                .value("windows", JSON::array());
        if (!titles.empty() && titles[0].get<std::string>().starts_with("New Tab")) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    std::string tree;
    int reads = 0;
    for (; reads < 2 && !hasLine(tree, R"(\] webpage )"); ++reads)
        tree = computer.result("state", {{"app", "Chromium"}}).value("tree", "");
    EXPECT_TRUE(hasLine(tree, R"(\] webpage )")) << "after " << reads << " reads\n" << tree;
    EXPECT_TRUE(hasLine(tree, R"(\] field "Address and search bar")")) << tree;
    endApp(computer, browser["pid"].get<pid_t>());
}

}  // namespace
}  // namespace pelko::computer::testing

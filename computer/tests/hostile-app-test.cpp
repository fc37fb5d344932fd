// pelko-computer facing an app that answers the accessibility bus badly (tests/hostile-app.cpp:
// wrong types, a bulk read larger than any reader keeps, parents in a circle, ancestors listed as
// children, extents at the ends of the integer range, calls never answered, titles that are not
// UTF-8): the requests about that app end with their own answers, the program stays up, and
// the next request about a good app (the widget factory) is served as ever.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <thread>

#include "desktop-session.h"

namespace pelko::computer::testing {
namespace {

using namespace std::chrono_literals;

TEST(LinuxDesktop, AnAppThatAnswersBadlyGetsItsOwnAnswersAndTheNextAppIsServed) {
    SKIP_WITHOUT_DESKTOP();
    DesktopComputer computer;
    StartedApp hostile({PELKO_HOSTILE_APP});
    // Listed once the registry knows it, under its program's name: it never says its own.
    JSON app;
    for (int attempt = 0; attempt < 100 && app.is_null(); ++attempt) {
        app = appNamed(computer.result("listApps"), "hostile-app");
        if (app.is_null()) std::this_thread::sleep_for(100ms);
    }
    ASSERT_FALSE(app.is_null()) << "the hostile app never registered";
    EXPECT_EQ(app["pid"], hostile.pid());
    EXPECT_EQ(app["windows"], JSON::array({"hostile \uFFFD\uFFFD title"}))
        << "a title that is not UTF-8 is repaired";

    // Its window holds a panel holding a text that lists the window, the panel and itself as
    // its children: each is written once.
    const JSON state = computer.result("state", {{"app", "hostile-app"}});
    const std::string tree = state.value("tree", "");
    EXPECT_EQ(state["window"]["title"], "hostile \uFFFD\uFFFD title");
    EXPECT_EQ(state["count"], 2) << tree;
    EXPECT_EQ(state["truncated"], false);
    EXPECT_TRUE(hasLine(tree, "^\\[1\\] window \"hostile \uFFFD\uFFFD title\"")) << tree;
    EXPECT_TRUE(hasLine(tree, "^  \\[2\\] text value=\"x{300}…\"")) << "a text of megabytes";

    // The window's extents are a number of the wrong type, the text's lie beyond any screen.
    for (const int index : {1, 2}) {
        const JSON click = computer.request("click", {{"app", "hostile-app"}, {"index", index}});
        EXPECT_EQ(click.value("error", ""),
                  "Element [" + std::to_string(index) + "] has no place on screen to click.")
            << click;
        EXPECT_EQ(click.value("code", ""), "failed");
    }
    // Its only window is too small to picture.
    const JSON picture = computer.request("screenshot", {{"app", "hostile-app"}});
    EXPECT_EQ(picture.value("error", ""),
              "hostile-app has no window on screen to picture (it may be minimized or on another "
              "desktop).");
    EXPECT_EQ(picture.value("code", ""), "no-window");

    const JSON factory = computer.result("state", {{"app", "Widget Factory"}});
    EXPECT_GT(factory.value("count", 0), 80) << factory;
    int status = 0;
    EXPECT_EQ(waitpid(hostile.pid(), &status, WNOHANG), 0) << "the hostile app is still there";
}

}  // namespace
}  // namespace pelko::computer::testing

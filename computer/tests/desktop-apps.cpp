#include "desktop-apps.h"

#include <unistd.h>

#include <fstream>
#include <thread>

namespace pelko::computer::testing {

std::string missingProgram(const std::string& program) {
    for (const char* folder : {"/usr/bin/", "/usr/local/bin/"}) {
        if (access((folder + program).c_str(), X_OK) == 0) return "";
    }
    return program + " is not installed (scripts/install-deps installs it)";
}

JSON openApp(DesktopComputer& computer, const std::string& app) {
    JSON reply = computer.request("resolve", {{"app", app}, {"launch", true}});
    for (int attempt = 0; attempt < 60 && !reply.contains("result"); ++attempt) {
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        reply = computer.request("resolve", {{"app", app}});
    }
    EXPECT_TRUE(reply.contains("result")) << app << " did not open: " << reply;
    return reply.value("result", JSON());
}

JSON awaitApp(DesktopComputer& computer, const std::string& app) {
    for (int attempt = 0; attempt < 120; ++attempt) {
        if (attempt > 0) std::this_thread::sleep_for(std::chrono::milliseconds(250));
        const JSON reply = computer.request("state", {{"app", app}, {"launch", false}});
        if (reply.contains("result") && !reply["result"].value("windows", JSON::array()).empty())
            return reply["result"]["app"];
    }
    ADD_FAILURE() << app << " never showed a window";
    return JSON();
}

std::string pageURL(const std::string& name) {
    return std::string("file://") + PELKO_TEST_PAGES + "/" + name;
}

std::string writeLongPage(const std::string& folder, int paragraphs) {
    const std::string path = folder + "/long-page.html";
    std::ofstream page(path);
    page << "<!doctype html><html lang=\"en\"><head><meta charset=\"utf-8\">"
            "<title>Long page</title></head><body>\n";
    for (int i = 1; i <= paragraphs; ++i)
        page << "<p>Paragraph " << i << " says a few words, with <a href=\"#p" << i
             << "\">link number " << i << "</a> inside it.</p>\n";
    page << "</body></html>\n";
    return "file://" + path;
}

void readLongPage(DesktopComputer& computer, const std::string& app, int paragraphs) {
    const JSON page = {{"app", app}, {"window", "Long page"}};
    const std::string last = R"(\] link "link number )" + std::to_string(paragraphs) + "\"";
    ASSERT_GT(awaitLine(computer, page, R"(\] link "link number 1")").index, 0);
    std::string tree = computer.result("state", page).value("tree", "");
    EXPECT_TRUE(hasLine(tree, R"(\] webpage "Long page")")) << tree;
    EXPECT_FALSE(hasLine(tree, last)) << tree;

    EXPECT_EQ(computer.result("pressKey", {{"app", app}, {"key", "End"}, {"front", true}})
                  .value("via", ""),
              "front");
    ASSERT_GT(awaitLine(computer, page, last).index, 0);
    tree = computer.result("state", page).value("tree", "");
    EXPECT_TRUE(hasLine(tree, "Paragraph " + std::to_string(paragraphs) + " says a few words"))
        << tree;
    EXPECT_FALSE(hasLine(tree, R"(\] link "link number 1")")) << tree;
    EXPECT_EQ(computer.result("click", {{"app", app}, {"index", indexOf(tree, last)}}),
              JSON({{"via", "press"}}));
}

}  // namespace pelko::computer::testing

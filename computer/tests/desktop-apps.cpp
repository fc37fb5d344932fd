#include "desktop-apps.h"

#include <unistd.h>

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

}  // namespace pelko::computer::testing

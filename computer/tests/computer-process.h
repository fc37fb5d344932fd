// pelko-computer started on a scene for a black-box test, with its call log in a private folder.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

#include "child-process.h"
#include "json-line.h"

#ifndef PELKO_EXAMPLES_DIR
#error "the tests need the examples folder"
#endif

namespace pelko::computer::testing {

using pelko::testing::ChildProcess;
using pelko::testing::ScopedTempDir;

class ComputerProcess {
  public:
    /// Starts the program on `scene`; the `ready` line is read off by `ready()`.
    explicit ComputerProcess(const JSON& scene) {
        pelko::testing::writeFile(dir_ / "scene.json", scene.dump());
        mkfifo((dir_ / "control").c_str(), 0600);
        pelko::testing::ChildOptions options;
        options.environment = {{"PELKO_SCENE", (dir_ / "scene.json").string()},
                               {"PELKO_SIM_LOG", (dir_ / "calls.log").string()},
                               {"PELKO_SIM_CONTROL", (dir_ / "control").string()}};
        child_ = std::make_unique<ChildProcess>(std::vector<std::string>{PELKO_COMPUTER}, options);
    }

    ChildProcess& child() { return *child_; }

    /// The next output line as JSON; a null value when none came in time or it is not JSON.
    JSON nextLine(pelko::testing::Timeout timeout = pelko::testing::defaultTimeout) {
        auto line = child_->readLine(timeout);
        if (!line) return JSON();
        auto value = parseJSON(*line);
        return value ? *value : JSON();
    }

    /// Sends one request and returns the next line.
    JSON request(const JSON& request) {
        child_->writeLine(request.dump());
        return nextLine();
    }

    /// Acts on the desktop as the user or an app would, through the control channel.
    void control(const JSON& command) {
        const int fd = open((dir_ / "control").c_str(), O_WRONLY | O_CLOEXEC);
        ASSERT_GE(fd, 0);
        const std::string line = command.dump() + "\n";
        ASSERT_EQ(write(fd, line.data(), line.size()), static_cast<ssize_t>(line.size()));
        close(fd);
    }

    /// The call log's entries, without their times.
    std::vector<JSON> calls() const {
        std::vector<JSON> entries;
        const std::string text = pelko::testing::readFile(dir_ / "calls.log");
        for (size_t start = 0, end; (end = text.find('\n', start)) != std::string::npos;
             start = end + 1) {
            JSON entry = JSON::parse(text.substr(start, end - start));
            entry.erase("t");
            entries.push_back(entry);
        }
        return entries;
    }

    /// The bundled sample desktop.
    static JSON sampleScene() {
        return JSON::parse(pelko::testing::readFile(PELKO_EXAMPLES_DIR "/scenes/desktop.json"));
    }

  private:
    ScopedTempDir dir_;
    std::unique_ptr<ChildProcess> child_;
};

}  // namespace pelko::computer::testing

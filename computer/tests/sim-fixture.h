// A simulated desktop built in code with a call log and a virtual clock, for unit tests of the
// input and overlay units.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "child-process.h"
#include "computer.h"
#include "method.h"
#include "sim/sim-desktop.h"

namespace pelko::computer::testing {

class SimFixture : public ::testing::Test {
  protected:
    void build(const JSON& scene) {
        std::filesystem::remove(dir / "calls.log");
        desktop = std::make_unique<sim::SimDesktop>(clock, scene, (dir / "calls.log").string());
        platform = std::make_unique<Platform>(
            Platform{clock, mainLoop, *desktop, *desktop, *desktop, *desktop, *desktop, *desktop});
    }

    /// The program's process-wide values on this desktop, writing to a temporary file.
    Computer& computer() {
        if (!computer_) computer_ = std::make_unique<Computer>(*platform, output_.get());
        return *computer_;
    }

    /// The lines the program wrote so far.
    std::vector<JSON> outputLines() {
        std::vector<JSON> lines;
        std::fflush(output_.get());
        std::rewind(output_.get());
        char buffer[4096];
        while (std::fgets(buffer, sizeof buffer, output_.get()))
            lines.push_back(JSON::parse(buffer));
        std::fseek(output_.get(), 0, SEEK_END);
        return lines;
    }

    /// The call log's entries (with their times) whose call is `call`, or all of them.
    std::vector<JSON> calls(const std::string& call = "") const {
        std::vector<JSON> entries;
        const std::string text = pelko::testing::readFile(dir / "calls.log");
        for (size_t start = 0, end; (end = text.find('\n', start)) != std::string::npos;
             start = end + 1) {
            JSON entry = JSON::parse(text.substr(start, end - start));
            if (call.empty() || entry["call"] == call) entries.push_back(entry);
        }
        return entries;
    }

    /// Runs the tasks posted to the main loop so far (delayed ones whose time has come).
    void drainMainLoop() {
        mainLoop.post([this] { mainLoop.quit(); });
        mainLoop.run();
    }

    /// The pauses taken, in milliseconds.
    std::vector<long> pausesMs() const {
        std::vector<long> ms;
        for (auto pause : clock.pauses())
            ms.push_back(static_cast<long>(std::llround(inSeconds(pause) * 1000)));
        return ms;
    }

    pelko::testing::ScopedTempDir dir;
    VirtualClock clock;
    MainLoop mainLoop{clock};
    std::unique_ptr<sim::SimDesktop> desktop;
    std::unique_ptr<Platform> platform;

  private:
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> output_{std::tmpfile(), &std::fclose};
    std::unique_ptr<Computer> computer_;
};

}  // namespace pelko::computer::testing

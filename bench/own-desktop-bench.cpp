// How long `pelko-computer --own-desktop` takes: from the command to its `ready` line, from
// there to the first `state` of the text editor it opens inside (the editor's start included),
// and from the end of its input to its exit with everything ended. Runs the program several
// times in a row (the first run may find a cold disk) and prints each run and the medians of
// the warm ones; asserts nothing.
//
//   own-desktop-bench PELKO-COMPUTER RUNS [ARGUMENTS...]   (e.g. --headless)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "child-process.h"

namespace {

using Clock = std::chrono::steady_clock;
using pelko::testing::ChildOptions;
using pelko::testing::ChildProcess;

double millisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double median(std::vector<double> values) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: own-desktop-bench PELKO-COMPUTER RUNS [ARGUMENTS...]\n");
        return 2;
    }
    const int runs = std::max(2, std::atoi(argv[2]));
    std::vector<std::string> command{argv[1], "--own-desktop"};
    for (int i = 3; i < argc; ++i) command.push_back(argv[i]);
    ChildOptions options;
    options.unset = {"PELKO_SCENE", "NO_AT_BRIDGE", "AT_SPI_BUS_ADDRESS"};
    std::vector<double> ready, state, end;
    std::printf("run  ready (ms)  first state of Mousepad (ms)  end (ms)\n");
    for (int run = 1; run <= runs; ++run) {
        const auto start = Clock::now();
        ChildProcess program(command, options);
        const auto first = program.readLine(pelko::testing::Timeout{60000});
        if (!first || first->find("\"ready\"") == std::string::npos) {
            std::fprintf(stderr, "no ready line: %s\n", program.stderrText().c_str());
            return 1;
        }
        const double readyTime = millisecondsSince(start);
        const auto asked = Clock::now();
        program.writeLine(R"({"id":1,"method":"state","params":{"app":"mousepad"}})");
        std::optional<std::string> reply;
        do {
            reply = program.readLine(pelko::testing::Timeout{60000});
        } while (reply && reply->find("\"id\":1") == std::string::npos);
        if (!reply || reply->find("\"result\"") == std::string::npos) {
            std::fprintf(stderr, "no state: %s\n", reply ? reply->c_str() : "(nothing)");
            return 1;
        }
        const double stateTime = millisecondsSince(asked);
        const auto closing = Clock::now();
        program.closeStdin();
        program.waitExit(pelko::testing::Timeout{60000});
        const double endTime = millisecondsSince(closing);
        std::printf("%3d  %10.0f  %28.0f  %8.0f\n", run, readyTime, stateTime, endTime);
        if (run > 1) {
            ready.push_back(readyTime);
            state.push_back(stateTime);
            end.push_back(endTime);
        }
    }
    std::printf("median of runs 2-%d: ready %.0f ms, first state %.0f ms (%.0f ms from the "
                "command), end %.0f ms\n",
                runs, median(ready), median(state), median(ready) + median(state), median(end));
}

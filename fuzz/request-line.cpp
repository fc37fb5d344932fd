// Request lines as the host writes them, through `serve` and `handle` on the sample desktop.
//
// The input is text, one request per line, read the way the reader thread reads standard input
// (invalid UTF-8 repaired, empty lines skipped). A line that begins with "!" is instead a control
// command of the simulated desktop (an app redrawing, the user acting), run on the `work` queue
// between the requests around it, so that requests meet elements that changed or went away.
//
// What must hold: nothing crashes or leaks; every line that is a JSON object gets exactly one
// reply and every other line none; each reply is one line of compact JSON carrying the request's
// id and either a result object or an error sentence with a known code word.
#include <cstdio>
#include <cstdlib>
#include <future>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "banner.h"
#include "computer.h"
#include "fuzz-support.h"
#include "request-loop.h"
#include "sim/sim-desktop.h"
#include "utf8.h"

namespace {

using namespace pelko;
using namespace pelko::computer;

const std::set<std::string> codeWords = {"failed",      "bad-input", "accessibility", "no-app",
                                         "not-running", "stale",     "not-front",     "no-window",
                                         "not-found",   "screen"};

[[noreturn]] void fault(const std::string& what, const std::string& detail) {
    pelko::fuzzing::fault("request-line", what, detail);
}

// The lines the reader thread would hand on.
std::vector<std::string> inputLines(std::string_view input) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start <= input.size()) {
        size_t end = input.find('\n', start);
        if (end == std::string_view::npos) end = input.size();
        if (end > start) lines.push_back(repairUTF8(input.substr(start, end - start)));
        start = end + 1;
    }
    return lines;
}

// The computer's output, read back once every queue has drained.
class MemoryOutput {
  public:
    MemoryOutput() : stream_(open_memstream(&buffer_, &size_)) {}
    ~MemoryOutput() {
        if (stream_) std::fclose(stream_);
        std::free(buffer_);
    }
    std::FILE* stream() { return stream_; }
    std::string text() {
        std::fflush(stream_);
        return std::string(buffer_, size_);
    }

  private:
    char* buffer_ = nullptr;
    size_t size_ = 0;
    std::FILE* stream_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const JSON scene = sim::SimDesktop::loadScene(PELKO_SAMPLE_SCENE);
    const std::vector<std::string> lines =
        inputLines(std::string_view(reinterpret_cast<const char*>(data), size));

    VirtualClock clock;
    MainLoop mainLoop(clock);
    sim::SimDesktop desktop(clock, scene);
    desktop.deliverKeyMonitorsOn(mainLoop);
    Platform platform{clock, mainLoop, desktop, desktop, desktop, desktop, desktop, desktop};
    MemoryOutput output;

    // The main loop runs on a thread of its own here, so that panel work hops to it as it
    // does in the program.
    std::promise<void> running;
    mainLoop.post([&] { running.set_value(); });
    std::thread mainThread([&] { mainLoop.run(); });
    running.get_future().wait();

    std::vector<JSON> expectedIds;
    {
        Computer computer(platform, output.stream());
        installEscapeMonitor(computer);
        for (const std::string& line : lines) {
            if (line.starts_with("!")) {
                auto command = parseJSON(line.substr(1));
                if (!command) continue;
                computer.work.async([&desktop, command = std::move(*command)] {
                    try {
                        desktop.control(command);
                    } catch (const sim::SceneError&) {
                        // A malformed command changes nothing.
                    }
                });
                continue;
            }
            if (auto request = parseJSON(line); request && request->is_object())
                expectedIds.push_back(request->contains("id") ? (*request)["id"] : JSON());
            serve(computer, line);
        }
        // Everything queued runs before the computer goes, key monitors posted to the main
        // loop included (they refer to the computer).
        computer.work.sync([] {});
        computer.uiWork.sync([] {});
        mainLoop.onMain([] {});
        computer.work.sync([] {});
    }
    mainLoop.quit();
    mainThread.join();

    std::multiset<std::string> wantedIds, repliedIds;
    for (const JSON& id : expectedIds) wantedIds.insert(id.dump());
    const std::string text = output.text();
    size_t start = 0;
    while (start < text.size()) {
        const size_t end = text.find('\n', start);
        if (end == std::string::npos) fault("an output line without its line break", text);
        const std::string line = text.substr(start, end - start);
        start = end + 1;
        const auto parsed = parseJSON(line);
        if (!parsed || !parsed->is_object()) fault("an output line that is not an object", line);
        if (compactJSON(*parsed) != line) fault("an output line that is not compact JSON", line);
        if (parsed->contains("event")) continue;
        if (!parsed->contains("id")) fault("a reply without id", line);
        repliedIds.insert((*parsed)["id"].dump());
        const bool isResult = parsed->contains("result");
        if (isResult) {
            if (parsed->size() != 2 || !(*parsed)["result"].is_object())
                fault("a result reply of the wrong shape", line);
        } else {
            const auto error = parsed->find("error");
            const auto code = parsed->find("code");
            if (parsed->size() != 3 || error == parsed->end() || !error->is_string() ||
                code == parsed->end() || !code->is_string())
                fault("an error reply of the wrong shape", line);
            if (!codeWords.count(code->get<std::string>())) fault("an unknown code word", line);
            if (error->get<std::string>().empty()) fault("an error without a sentence", line);
        }
    }
    if (wantedIds != repliedIds)
        fault("not one reply per request", std::to_string(wantedIds.size()) + " requests, " +
                                               std::to_string(repliedIds.size()) + " replies:\n" +
                                               text);
    return 0;
}

// pelko-computer under a long mixed load on the sample desktop, while its apps redraw at random
// through the control channel (titles and values change, elements hide and show, apps come to
// the front, the user presses Escape).
//
//   computer-soak [--requests 100000] [--seconds 600] [--batch 16] [--seed N]
//
// Requests go out in batches; every request line that is a JSON object must get exactly one
// reply with its id, and malformed lines none. Prints requests per second, the reply codes, and
// the program's memory and descriptors after start, after warm-up and at the end, and ends with
// status 1 on any fault: a lost, duplicated or malformed reply, a reply to a malformed line,
// memory that kept growing after warm-up, descriptors that grew, or an unclean exit.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <map>
#include <set>
#include <thread>

#include "child-process.h"
#include "json-line.h"
#include "soak-support.h"

namespace {

using namespace pelko;
using namespace pelko::soak;
using pelko::testing::ChildOptions;
using pelko::testing::ChildProcess;

// The element ids of the scene, by app name.
std::map<std::string, std::vector<std::string>> elementIds(const JSON& scene) {
    std::map<std::string, std::vector<std::string>> ids;
    std::function<void(const std::string&, const JSON&)> walk = [&](const std::string& app,
                                                                    const JSON& element) {
        if (element.contains("id")) ids[app].push_back(element["id"]);
        for (const auto& child : element.value("children", JSON::array())) walk(app, child);
    };
    for (const auto& app : scene.value("apps", JSON::array())) {
        const std::string name = app.value("name", "");
        for (const auto& window : app.value("windows", JSON::array())) walk(name, window);
        if (app.contains("menuBar")) walk(name, app["menuBar"]);
    }
    return ids;
}

// One request line; `expectsReply` is false for lines that are not a JSON object.
struct Request {
    std::string line;
    bool expectsReply = true;
};

Request nextRequest(std::mt19937_64& random, long id) {
    static const char* const apps[] = {"Notes", "Settings", "Browser", "Finder",
                                       "Maps",  "notes",    "Nowhere", ""};
    static const char* const acting[] = {"click",  "setValue", "typeText", "pressKey",
                                         "scroll", "action",   "menu",     "screenshot"};
    const std::string app = apps[pick(random, 0, std::size(apps) - 1)];
    JSON request{{"id", id}};
    const long roll = pick(random, 0, 99);
    if (roll < 10) {
        request["method"] = "ping";
    } else if (roll < 14) {
        request["method"] = "status";
    } else if (roll < 19) {
        request["method"] = "listApps";
    } else if (roll < 24) {
        request["method"] = "find";
        request["params"] = {{"app", app}};
    } else if (roll < 28) {
        request["method"] = "resolve";
        request["params"] = {{"app", app}, {"launch", chance(random, 0.2)}};
    } else if (roll < 50) {
        request["method"] = "state";
        request["params"] = {{"app", app}, {"maxChars", pick(random, 200, 12000)}};
        if (chance(random, 0.1)) request["params"]["launch"] = false;
    } else if (roll < 62) {
        request["method"] = "state";
        request["params"] = {
            {"app", app}, {"region", pick(random, 1, 60)}, {"again", chance(random, 0.3)}};
    } else if (roll < 68) {
        request["method"] = "banner";
        request["params"] = {{"show", chance(random, 0.5)}};
        if (chance(random, 0.3)) request["params"]["text"] = "Working on " + app + "…";
    } else if (roll < 83) {
        request["method"] = acting[pick(random, 0, std::size(acting) - 1)];
        request["params"] = {{"app", app},
                             {"index", pick(random, 1, 60)},
                             {"text", "soak"},
                             {"key", "cmd+s"},
                             {"value", "soak"},
                             {"action", "AXPress"},
                             {"path", {"File", "New Note"}}};
    } else if (roll < 86) {
        request["method"] = "requestAccess";
        request["params"] = {{"kind", chance(random, 0.5) ? "screen" : "accessibility"}};
    } else if (roll < 92) {
        request["method"] = chance(random, 0.5) ? "teleport" : "";
    } else if (roll < 95) {
        request.erase("id");  // answered with id null
        request["method"] = "ping";
    } else {
        static const char* const malformed[] = {"[1,2]",    "42",
                                                "not json", "{\"id\": 1,",
                                                "\"text\"", "{\"id\": 1, \"method\": \"ping\"} x"};
        return {malformed[pick(random, 0, std::size(malformed) - 1)], false};
    }
    return {request.dump(), true};
}

// Writes control commands into the FIFO at random moments until told to stop.
class Redraws {
  public:
    Redraws(const std::string& fifo, std::map<std::string, std::vector<std::string>> ids,
            uint64_t seed)
        : ids_(std::move(ids)), random_(seed) {
        fd_ = ::open(fifo.c_str(), O_WRONLY | O_CLOEXEC);
        thread_ = std::thread([this] { run(); });
    }
    ~Redraws() {
        stopping_ = true;
        thread_.join();
        if (fd_ >= 0) ::close(fd_);
    }
    long sent() const { return sent_; }

  private:
    void run() {
        std::vector<std::pair<std::string, std::string>> elements;
        for (const auto& [app, names] : ids_)
            for (const auto& name : names) elements.emplace_back(app, name);
        while (!stopping_ && fd_ >= 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(pick(random_, 0, 20)));
            JSON command;
            const long roll = pick(random_, 0, 99);
            const auto& [app, element] = elements[pick(random_, 0, elements.size() - 1)];
            if (roll < 45) {
                command = {{"do", "set"},
                           {"element", element},
                           {"attribute", chance(random_, 0.5) ? "AXTitle" : "AXValue"},
                           {"value", "redraw " + std::to_string(sent_)}};
            } else if (roll < 75) {
                command = {{"do", "set"},
                           {"element", element},
                           {"attribute", "AXHidden"},
                           {"value", chance(random_, 0.3)}};
            } else if (roll < 90) {
                command = {{"do", "set"},
                           {"element", element},
                           {"attribute", "AXEnabled"},
                           {"value", chance(random_, 0.5)}};
            } else if (roll < 97) {
                command = {{"do", "front"}, {"app", app}};
            } else {
                command = {{"do", "key"}, {"keyCode", 53}};  // the user presses Escape
            }
            const std::string line = command.dump() + "\n";
            if (::write(fd_, line.data(), line.size()) != static_cast<ssize_t>(line.size())) break;
            ++sent_;
        }
    }

    std::map<std::string, std::vector<std::string>> ids_;
    std::mt19937_64 random_;
    int fd_ = -1;
    std::atomic<bool> stopping_{false};
    std::atomic<long> sent_{0};
    std::thread thread_;
};

}  // namespace

int main(int argc, char** argv) {
    const Options options(argc, argv, {{"requests", 100000}, {"seconds", 600}, {"batch", 16}});
    auto random = randomSource(options);
    Faults faults;
    pelko::testing::ScopedTempDir dir;
    const std::string fifo = (dir / "control").string();
    ::mkfifo(fifo.c_str(), 0600);
    const JSON scene = JSON::parse(pelko::testing::readFile(PELKO_SAMPLE_SCENE));

    ChildOptions childOptions;
    childOptions.environment = {{"PELKO_SCENE", PELKO_SAMPLE_SCENE}, {"PELKO_SIM_CONTROL", fifo}};
    ChildProcess computer({PELKO_COMPUTER}, childOptions);
    const auto ready = computer.readLine(std::chrono::seconds(30));
    if (!ready || ready->find("\"ready\"") == std::string::npos) {
        std::printf("pelko-computer did not start: %s\n", computer.stderrText().c_str());
        return 1;
    }
    const pid_t pid = computer.pid();
    std::printf("computer soak: seed %.0f, up to %ld requests or %.0f s, batches of %ld\n",
                options["seed"], options.whole("requests"), options["seconds"],
                options.whole("batch"));
    const long startKiB = residentKiB(pid).value_or(-1);
    const long startFds = openDescriptors(pid).value_or(-1);

    Redraws redraws(fifo, elementIds(scene), random());
    std::map<std::string, long> codes;
    long sent = 0, replies = 0, events = 0, nextId = 1;
    long warmKiB = -1, warmFds = -1, peakKiB = 0;
    std::vector<std::pair<long, long>> samples;  // (requests, KiB) after warm-up
    std::vector<std::pair<double, long>> pace;   // (seconds, requests sent)
    const auto start = SteadyClock::now();
    const long total = options.whole("requests");
    const long warmUp = std::max<long>(total / 10, 1000);
    bool running = true;
    while (running && sent < total && SteadyClock::now() - start < options.seconds()) {
        std::set<long> pending;
        long nullIds = 0;
        std::string batch;
        for (long n = 0; n < options.whole("batch") && sent < total; ++n, ++sent) {
            const long id = nextId++;
            Request request = nextRequest(random, id);
            if (request.expectsReply) {
                if (request.line.find("\"id\"") == std::string::npos)
                    ++nullIds;
                else
                    pending.insert(id);
            }
            batch += request.line + "\n";
        }
        if (!computer.write(batch)) {
            faults.add("the program stopped reading", std::to_string(sent));
            break;
        }
        while (!pending.empty() || nullIds > 0) {
            const auto line = computer.readLine(std::chrono::seconds(30));
            if (!line) {
                faults.add("a request without a reply within 30 s",
                           std::to_string(pending.size()) + " missing");
                running = false;
                break;
            }
            const auto reply = parseJSON(*line);
            if (!reply || !reply->is_object() || compactJSON(*reply) != *line) {
                faults.add("an output line that is not compact JSON", *line);
                continue;
            }
            if (reply->contains("event")) {
                ++events;
                continue;
            }
            ++replies;
            const JSON& id = (*reply)["id"];
            if (id.is_null()) {
                if (nullIds-- <= 0) faults.add("a reply with id null nobody asked for", *line);
            } else if (!id.is_number_integer() || !pending.erase(id.get<long>())) {
                faults.add("a reply to no pending request (late, doubled or for a malformed line)",
                           *line);
            }
            ++codes[reply->contains("result") ? "result" : reply->value("code", "?")];
        }
        // Warm once a tenth of the requests or of the time has gone, whichever comes first.
        const bool warm = sent >= warmUp || SteadyClock::now() - start >= options.seconds() / 10;
        if (warm && warmKiB < 0) {
            warmKiB = residentKiB(pid).value_or(-1);
            warmFds = openDescriptors(pid).value_or(-1);
        }
        if (sent % 2000 < options.whole("batch")) {
            const long kib = residentKiB(pid).value_or(-1);
            peakKiB = std::max(peakKiB, kib);
            if (warmKiB >= 0) samples.emplace_back(sent, kib);
            pace.emplace_back(secondsSince(start), sent);
        }
    }
    const double elapsed = secondsSince(start);
    const long endKiB = residentKiB(pid).value_or(-1);
    const long endFds = openDescriptors(pid).value_or(-1);
    computer.closeStdin();
    const auto status = computer.waitExit(std::chrono::seconds(30));
    if (!status || !status->exited || status->code != 0)
        faults.add("no clean exit at the end of input", computer.stderrText());

    std::printf("figures:\n");
    figure("requests sent", sent);
    figure("replies", replies);
    figure("events (front, stop)", events);
    figure("redraws through the control channel", redraws.sent());
    figure("seconds", elapsed, "%.1f");
    figure("requests per second", sent / elapsed, "%.0f");
    // A program that slows down as it runs (state piling up) shows here.
    if (pace.size() >= 20) {
        const size_t tenth = pace.size() / 10;
        auto rate = [&](size_t from, size_t to) {
            return (pace[to].second - pace[from].second) / (pace[to].first - pace[from].first);
        };
        figure("  in the first tenth of the run", rate(0, tenth), "%.0f");
        figure("  in the last tenth of the run", rate(pace.size() - 1 - tenth, pace.size() - 1),
               "%.0f");
    }
    for (const auto& [code, count] : codes) figure("  replies " + code, count);
    figure("memory after start (KiB)", startKiB);
    figure("memory after warm-up (KiB)", warmKiB);
    figure("memory at the end (KiB)", endKiB);
    figure("memory peak of samples (KiB)", peakKiB);
    figure("descriptors after start / warm-up / end", std::to_string(startFds) + " / " +
                                                          std::to_string(warmFds) + " / " +
                                                          std::to_string(endFds));
    // Flat: the second half of the samples after warm-up grows by no more than a small margin
    // over the first half (allocator pages settle in steps).
    if (samples.size() >= 4) {
        long firstHalf = 0, secondHalf = 0;
        const size_t half = samples.size() / 2;
        for (size_t i = 0; i < samples.size(); ++i) {
            long& peak = i < half ? firstHalf : secondHalf;
            peak = std::max(peak, samples[i].second);
        }
        figure("memory growth after warm-up (KiB, max of halves)", secondHalf - firstHalf);
        if (secondHalf - firstHalf > std::max<long>(4096, firstHalf / 20))
            faults.add("memory kept growing after warm-up",
                       std::to_string(firstHalf) + " -> " + std::to_string(secondHalf) + " KiB");
    }
    if (warmFds >= 0 && endFds > warmFds) faults.add("descriptors grew", std::to_string(endFds));
    return faults.report();
}

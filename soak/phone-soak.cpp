// pelko-phone stream, run after run, read by a host that stalls and resumes at random, each run
// ended by two stop causes injected close together in random order: standard input closed,
// SIGTERM, SIGINT, the reader going away, the phone unplugged, a capture runtime error.
//
//   phone-soak [--seconds 60] [--seed N]
//
// For every run: the program ends once, in time, with the status of one of the two causes; at
// most one error frame, and it is the last frame; its code fits the status; every frame read is
// whole (a JPEG from its start marker to its end marker, or a JSON object), and when the reader
// stayed, the stream ends on a frame boundary. Prints the pairs tried, the endings counted by
// status and error code, frames and stalls, and ends with status 1 on any fault.
#include <poll.h>
#include <unistd.h>

#include <csignal>
#include <fstream>
#include <thread>

#include "child-process.h"
#include "json-line.h"
#include "soak-support.h"

namespace {

using namespace pelko;
using namespace pelko::soak;

enum class Cause { stdinClosed, sigterm, sigint, readerGone, unplugged, runtimeError };
const char* const causeNames[] = {"stdin closed", "SIGTERM",   "SIGINT",
                                  "reader gone",  "unplugged", "runtime error"};

struct Run {
    Cause first, second;
    double at = 0;     // seconds after start of the first cause
    double apart = 0;  // seconds between the two
};

struct Outcome {
    std::optional<int> status;
    long pictures = 0, statuses = 0, stalls = 0;
    std::vector<std::string> errorCodes;
    bool errorLast = true;
    bool torn = false;
    std::string bad;  // a frame that is not whole
};

bool involves(const Run& run, Cause cause) {
    return run.first == cause || run.second == cause;
}

// Reads frames with stalls until the end of output, or until `leaveAt`, when the reader closes
// its end of the pipe and goes.
void readStream(Spawned& phone, std::mt19937_64& random,
                std::optional<SteadyClock::time_point> leaveAt, Outcome& outcome, bool& left) {
    const int fd = phone.output();
    std::string pending;
    char chunk[65536];
    long readsUntilStall = pick(random, 1, 40);
    for (;;) {
        if (leaveAt && SteadyClock::now() >= *leaveAt) {
            phone.closeOutput();
            left = true;
            return;
        }
        if (--readsUntilStall <= 0) {
            // Mostly short pauses; now and then the host stops reading for a while.
            const long ms = chance(random, 0.1) ? pick(random, 500, 2000) : pick(random, 5, 300);
            const auto until = SteadyClock::now() + std::chrono::milliseconds(ms);
            std::this_thread::sleep_until(leaveAt ? std::min(until, *leaveAt) : until);
            ++outcome.stalls;
            readsUntilStall = pick(random, 1, 40);
            continue;
        }
        pollfd ready{fd, POLLIN, 0};
        if (::poll(&ready, 1, 50) == 0) continue;
        const ssize_t got = ::read(fd, chunk, pick(random, 1, sizeof chunk));
        if (got <= 0) break;
        pending.append(chunk, static_cast<size_t>(got));
        // Whole frames: a 4-byte big-endian length, the kind byte, the payload.
        while (pending.size() >= 4) {
            const auto* b = reinterpret_cast<const unsigned char*>(pending.data());
            const size_t length =
                size_t{b[0]} << 24 | size_t{b[1]} << 16 | size_t{b[2]} << 8 | b[3];
            if (pending.size() < 4 + length) break;
            const int kind = length ? b[4] : -1;
            const std::string payload = length ? pending.substr(5, length - 1) : "";
            pending.erase(0, 4 + length);
            if (!outcome.errorCodes.empty()) outcome.errorLast = false;
            if (kind == 1) {
                ++outcome.pictures;
                if (payload.size() < 4 || payload.compare(0, 2, "\xFF\xD8") != 0 ||
                    payload.compare(payload.size() - 2, 2, "\xFF\xD9") != 0)
                    outcome.bad = "a picture that is not a whole JPEG";
            } else if (kind == 2) {
                ++outcome.statuses;
                const auto status = parseJSON(payload);
                if (!status || !status->is_object()) {
                    outcome.bad = "a status that is not a JSON object: " + payload;
                } else if (status->value("event", "") == "error") {
                    outcome.errorCodes.push_back(status->value("code", "?"));
                }
            } else {
                outcome.bad = "a frame of unknown kind " + std::to_string(kind);
            }
        }
    }
    outcome.torn = !pending.empty();
}

void inject(Cause cause, Spawned& phone) {
    switch (cause) {
        case Cause::stdinClosed:
            phone.closeInput();
            break;
        case Cause::sigterm:
            ::kill(phone.pid(), SIGTERM);
            break;
        case Cause::sigint:
            ::kill(phone.pid(), SIGINT);
            break;
        default:  // the reader leaves on its own thread; the scene unplugs and fails
            break;
    }
}

}  // namespace

int main(int argc, char** argv) {
    const Options options(argc, argv, {});
    auto random = randomSource(options);
    Faults faults;
    pelko::testing::ScopedTempDir dir;
    const std::string scenePath = (dir / "scene.json").string();
    const std::string errorPath = (dir / "stderr").string();
    std::printf("phone soak: seed %.0f, %.0f s\n", options["seed"], options["seconds"]);

    std::map<std::string, long> pairs, endings;
    long runs = 0, pictures = 0, statuses = 0, stalls = 0, errorFrames = 0;
    const auto start = SteadyClock::now();
    while (SteadyClock::now() - start < options.seconds()) {
        Run run;
        run.first = static_cast<Cause>(pick(random, 0, 5));
        do {
            run.second = static_cast<Cause>(pick(random, 0, 5));
        } while (run.second == run.first);
        run.at = pick(random, 100, 2500) / 1000.0;
        run.apart = chance(random, 0.5) ? 0 : pick(random, 0, 60) / 1000.0;
        const double secondAt = run.at + run.apart;
        auto when = [&](Cause cause) { return run.first == cause ? run.at : secondAt; };

        JSON device = {{"uniqueId", "SOAK-1"},
                       {"screen",
                        {{"fps", 60},
                         {"sizes",
                          {{{"width", 1170}, {"height", 2532}, {"from", 0}},
                           {{"width", 2532}, {"height", 1170}, {"from", run.at / 2}}}}}}};
        // The scene's times count from the capture session's start, a few milliseconds after
        // the program's.
        if (involves(run, Cause::unplugged)) device["disconnectAfter"] = when(Cause::unplugged);
        if (involves(run, Cause::runtimeError))
            device["runtimeError"] = {{"after", when(Cause::runtimeError)},
                                      {"message", "The screen was taken."},
                                      {"busy", true}};
        std::ofstream(scenePath) << JSON{{"devices", {device}}}.dump();

        std::vector<std::string> argv = {PELKO_PHONE, "stream", "SOAK-1"};
        if (chance(random, 0.5))
            argv.insert(argv.end(), {"--fps", std::to_string(pick(random, 5, 120))});
        if (chance(random, 0.5))
            argv.insert(argv.end(), {"--max-edge", std::to_string(pick(random, 16, 1600))});
        Spawned phone(argv, {"PELKO_PHONE_SCENE=" + scenePath}, errorPath);
        const auto started = SteadyClock::now();
        auto at = [&](double seconds) {
            return started + std::chrono::microseconds(static_cast<long>(seconds * 1e6));
        };

        Outcome outcome;
        bool left = false;
        std::optional<SteadyClock::time_point> leaveAt;
        if (involves(run, Cause::readerGone)) leaveAt = at(when(Cause::readerGone));
        std::mt19937_64 readerRandom(random());
        std::thread reader([&] { readStream(phone, readerRandom, leaveAt, outcome, left); });
        for (Cause cause : {run.first, run.second}) {
            std::this_thread::sleep_until(at(when(cause)));
            inject(cause, phone);
        }
        reader.join();
        outcome.status = phone.wait(std::chrono::seconds(15));

        ++runs;
        ++pairs[std::string(causeNames[static_cast<int>(run.first)]) + " + " +
                causeNames[static_cast<int>(run.second)]];
        pictures += outcome.pictures;
        statuses += outcome.statuses;
        stalls += outcome.stalls;
        errorFrames += static_cast<long>(outcome.errorCodes.size());
        const std::string which = std::string(causeNames[static_cast<int>(run.first)]) + " then " +
                                  causeNames[static_cast<int>(run.second)];
        if (!outcome.status) {
            faults.add("no ending within 15 s", which);
            continue;
        }
        const int status = *outcome.status;
        const std::string code = outcome.errorCodes.empty() ? "none" : outcome.errorCodes.back();
        ++endings["status " + std::to_string(status) + ", error " + code];
        if (outcome.errorCodes.size() > 1) faults.add("more than one error frame", which);
        if (!outcome.errorLast) faults.add("a frame after the error frame", which);
        if (!outcome.bad.empty()) faults.add(outcome.bad, which);
        if (outcome.torn && !left) faults.add("a torn frame at the end of the stream", which);
        // The ending belongs to one of the two causes.
        const bool hostStop = involves(run, Cause::stdinClosed) || involves(run, Cause::sigterm) ||
                              involves(run, Cause::sigint) || involves(run, Cause::readerGone);
        bool fits = false;
        if (status == 0 && code == "none") fits = hostStop;
        if (status == 0 && code == "gone") fits = involves(run, Cause::unplugged);
        if (status == 1 && code == "busy") fits = involves(run, Cause::runtimeError);
        // A reader that left cannot see the error frame the ending wrote.
        if (left && code == "none" && status == 1) fits = involves(run, Cause::runtimeError);
        if (!fits)
            faults.add("an ending that fits neither cause",
                       which + ": status " + std::to_string(status) + ", error " + code);
    }

    const double elapsed = secondsSince(start);
    std::printf("figures:\n");
    figure("runs (stop-cause pairs tried)", runs);
    figure("seconds", elapsed, "%.1f");
    figure("pictures read", pictures);
    figure("status frames read", statuses);
    figure("error frames read", errorFrames);
    figure("reader stalls", stalls);
    std::printf("  pairs (first + second):\n");
    for (const auto& [pair, count] : pairs) figure("    " + pair, count);
    std::printf("  endings:\n");
    for (const auto& [ending, count] : endings) figure("    " + ending, count);
    return faults.report();
}

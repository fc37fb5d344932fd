// pelko-notifier with racing clients and residents killed at random: posts and clears from
// several client processes at once, while the resident that holds the port is killed (SIGKILL
// or SIGTERM) now and then, so that the next client has to start a new one over the old one's
// socket file.
//
//   notifier-soak [--operations 10000] [--clients 8] [--kill-every 2] [--seconds 600] [--seed N]
//
// Every post has an id of its own, so each post a resident handles makes one card. What must
// hold: no client fails to reach a resident (exit 3), whatever was killed before it; never two
// residents hold the port at once; every accepted post becomes a card, except those accepted in
// the moment before their resident was killed (they are counted); the residents leave no socket
// that blocks the next start. Prints posts and operations per second, kills, the longest wait
// of a client, and ends with status 1 on any fault.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <mutex>
#include <regex>
#include <set>
#include <sstream>
#include <thread>

#include "child-process.h"
#include "soak-support.h"

namespace {

using namespace pelko;
using namespace pelko::soak;

// The residents that registered the port, from their log ("resident <pid>"), and the cards made.
struct LogView {
    std::vector<pid_t> residents;
    long cards = 0;
};

LogView readLog(const std::string& path) {
    static const std::regex resident(R"(^[0-9.]+ resident ([0-9]+)$)");
    static const std::regex card(R"(^[0-9.]+ panel [0-9]+ created .*)");
    LogView view;
    std::ifstream log(path);
    std::smatch match;
    for (std::string line; std::getline(log, line);) {
        if (std::regex_match(line, match, resident))
            view.residents.push_back(std::stoi(match[1]));
        else if (std::regex_match(line, card))
            ++view.cards;
    }
    return view;
}

// Whether `pid` runs (a process that has ended but was not reaped yet does not).
bool isRunning(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text;
    if (!std::getline(stat, text)) return false;
    const size_t close = text.rfind(')');
    return close != std::string::npos && close + 2 < text.size() && text[close + 2] != 'Z';
}

// Runs one client to its end; its exit status.
int runClient(const std::vector<std::string>& args, const std::vector<std::string>& environment) {
    std::vector<std::string> argv = {PELKO_NOTIFIER};
    argv.insert(argv.end(), args.begin(), args.end());
    Spawned client(argv, environment, "/dev/null");
    client.closeInput();
    client.closeOutput();
    return client.wait(std::chrono::seconds(60)).value_or(-1);
}

}  // namespace

int main(int argc, char** argv) {
    const Options options(
        argc, argv, {{"operations", 10000}, {"clients", 8}, {"kill-every", 2}, {"seconds", 600}});
    auto random = randomSource(options);
    Faults faults;
    std::mutex faultsLock;
    auto fault = [&](const std::string& kind, const std::string& example) {
        std::lock_guard guard(faultsLock);
        faults.add(kind, example);
    };
    pelko::testing::ScopedTempDir runtime, logs;
    ::chmod(runtime.path().c_str(), 0700);
    const std::string logPath = (logs / "residents.log").string();
    // No display: the residents show their cards on the simulated desktop, whose log this reads.
    ::unsetenv("DISPLAY");
    const std::vector<std::string> environment = {"XDG_RUNTIME_DIR=" + runtime.path().string(),
                                                  "PELKO_NOTIFIER_LOG=" + logPath};
    std::printf(
        "notifier soak: seed %.0f, %ld operations from %ld clients, a kill every %.1f s "
        "on average, at most %.0f s\n",
        options["seed"], options.whole("operations"), options.whole("clients"),
        options["kill-every"], options["seconds"]);

    std::atomic<long> operations{0}, posts{0}, accepted{0}, clears{0}, unreachable{0}, other{0};
    std::atomic<bool> done{false};
    std::mutex timesLock;
    std::vector<SteadyClock::time_point> acceptedAt, killedAt;
    std::set<pid_t> killed;  // on their way out: they no longer count as holding the port
    std::atomic<long> longestWaitMs{0};
    const auto start = SteadyClock::now();
    const long total = options.whole("operations");

    std::vector<std::thread> clients;
    for (long c = 0; c < options.whole("clients"); ++c) {
        clients.emplace_back([&, c, seed = random()] {
            std::mt19937_64 random(seed);
            std::vector<std::string> mine;
            for (long n = 0; !done; ++n) {
                if (operations++ >= total || SteadyClock::now() - start > options.seconds()) break;
                std::vector<std::string> args;
                const bool post = mine.empty() || chance(random, 0.75);
                if (post) {
                    const std::string id = "c" + std::to_string(c) + "-" + std::to_string(n);
                    args = {"post", "--id", id, "--title", "Card " + id};
                    if (chance(random, 0.3)) args.insert(args.end(), {"--body", "Line\nLine 2"});
                    if (chance(random, 0.2)) args.insert(args.end(), {"--kind", "input"});
                    mine.push_back(id);
                } else {
                    args = {"clear"};
                    for (int k = pick(random, 1, 3); k > 0; --k)
                        args.insert(args.end(), {"--id", mine[pick(random, 0, mine.size() - 1)]});
                }
                const auto began = SteadyClock::now();
                const int status = runClient(args, environment);
                const auto ended = SteadyClock::now();
                const long waited =
                    std::chrono::duration_cast<std::chrono::milliseconds>(ended - began).count();
                long longest = longestWaitMs.load();
                while (waited > longest && !longestWaitMs.compare_exchange_weak(longest, waited)) {
                }
                (post ? posts : clears)++;
                if (status == 0 && post) {
                    ++accepted;
                    std::lock_guard guard(timesLock);
                    acceptedAt.push_back(ended);
                } else if (status == 3) {
                    ++unreachable;
                    fault("a client could not reach a resident (exit 3)", args[0] + " " + args[2]);
                } else if (status != 0) {
                    ++other;
                    fault("a client ended with status " + std::to_string(status), args[0]);
                }
            }
        });
    }

    // Watches that at most one resident that registered the port runs at any moment.
    long samples = 0, maxRunning = 0;
    std::thread watcher([&] {
        while (!done) {
            long running = 0;
            for (pid_t pid : readLog(logPath).residents) {
                std::lock_guard guard(timesLock);
                running += !killed.count(pid) && isRunning(pid);
            }
            ++samples;
            maxRunning = std::max(maxRunning, running);
            if (running > 1) fault("two residents hold the port", std::to_string(running));
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    });

    // Kills the running resident now and then.
    long kills = 0;
    std::thread killer([&, seed = random()] {
        std::mt19937_64 random(seed);
        std::exponential_distribution<double> pause(1.0 / options["kill-every"]);
        while (!done) {
            const auto until = SteadyClock::now() +
                               std::chrono::milliseconds(static_cast<long>(
                                   1000 * std::min(pause(random), 4 * options["kill-every"])));
            while (!done && SteadyClock::now() < until)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            if (done) break;
            for (pid_t pid : readLog(logPath).residents) {
                std::lock_guard guard(timesLock);
                if (killed.count(pid) || !isRunning(pid)) continue;
                killed.insert(pid);
                ::kill(pid, chance(random, 0.5) ? SIGKILL : SIGTERM);
                ++kills;
                killedAt.push_back(SteadyClock::now());
            }
        }
    });

    for (auto& client : clients) client.join();
    const double elapsed = secondsSince(start);
    // Give the last resident a moment to show what it accepted last, then end it.
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    done = true;
    killer.join();
    watcher.join();
    const LogView log = readLog(logPath);
    for (pid_t pid : log.residents)
        if (isRunning(pid)) ::kill(pid, SIGKILL);

    // Posts accepted in the 250 ms before a kill may have died with their resident, acknowledged
    // but not yet shown.
    long atRisk = 0;
    for (const auto& at : acceptedAt) {
        for (const auto& kill : killedAt) {
            if (kill >= at && kill - at < std::chrono::milliseconds(250)) {
                ++atRisk;
                break;
            }
        }
    }
    const long lost = accepted - log.cards;
    if (lost > atRisk)
        fault("accepted posts never became cards",
              std::to_string(lost) + " lost, " + std::to_string(atRisk) + " at risk from kills");

    std::printf("figures:\n");
    figure("operations (client runs)", posts + clears);
    figure("  posts", posts);
    figure("  clears", clears);
    figure("seconds", elapsed, "%.1f");
    figure("operations per second", (posts + clears) / elapsed, "%.1f");
    figure("accepted posts per second", accepted / elapsed, "%.1f");
    figure("posts accepted", accepted);
    figure("cards shown by the residents", log.cards);
    figure("accepted posts lost (at risk from a kill)",
           std::to_string(lost) + " (" + std::to_string(atRisk) + ")");
    figure("residents that held the port", static_cast<double>(log.residents.size()));
    figure("kills", kills);
    figure("clients that found no resident (exit 3)", unreachable);
    figure("clients with another failure", other);
    figure("longest client run (ms)", longestWaitMs);
    figure("most residents running at one sample", maxRunning);
    figure("samples of the running residents", samples);
    return faults.report();
}

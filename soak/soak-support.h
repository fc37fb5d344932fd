// What the soak drivers share: their command line (run length, seed), a process's memory and
// descriptors as /proc shows them, a random source, and the figures they print.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace pelko::soak {

using SteadyClock = std::chrono::steady_clock;

/// The options every soak takes: `--seconds S` (how long it runs), `--seed N` (the random
/// choices, printed so that a run can be repeated) and its own numbers by name
/// (`--requests 100000`), each with a default.
class Options {
  public:
    Options(int argc, char** argv, std::map<std::string, double> defaults)
        : values_(std::move(defaults)) {
        values_.try_emplace("seconds", 60);
        values_.try_emplace("seed", static_cast<double>(std::random_device{}() & 0xFFFFFF));
        for (int i = 1; i + 1 < argc; i += 2) {
            std::string name = argv[i];
            if (!name.starts_with("--") || !values_.count(name.substr(2))) {
                std::fprintf(stderr, "unknown option %s; options:", argv[i]);
                for (const auto& [known, value] : values_)
                    std::fprintf(stderr, " --%s (%g)", known.c_str(), value);
                std::fprintf(stderr, "\n");
                std::exit(2);
            }
            values_[name.substr(2)] = std::stod(argv[i + 1]);
        }
    }
    double operator[](const std::string& name) const { return values_.at(name); }
    long whole(const std::string& name) const { return static_cast<long>(values_.at(name)); }
    std::chrono::duration<double> seconds() const {
        return std::chrono::duration<double>(values_.at("seconds"));
    }

  private:
    std::map<std::string, double> values_;
};

/// Resident memory of process `pid` in KiB (VmRSS); nothing when it has gone.
inline std::optional<long> residentKiB(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.starts_with("VmRSS:")) return std::stol(line.substr(6));
    return std::nullopt;
}

/// Open descriptors of process `pid`; nothing when it has gone.
inline std::optional<long> openDescriptors(pid_t pid) {
    std::error_code error;
    std::filesystem::directory_iterator entries("/proc/" + std::to_string(pid) + "/fd", error);
    if (error) return std::nullopt;
    long count = 0;
    for (const auto& entry : entries) {
        (void)entry;
        ++count;
    }
    return count;
}

/// Seconds since `start`.
inline double secondsSince(SteadyClock::time_point start) {
    return std::chrono::duration<double>(SteadyClock::now() - start).count();
}

/// The random source of one soak, seeded from its options.
inline std::mt19937_64 randomSource(const Options& options) {
    return std::mt19937_64(static_cast<uint64_t>(options["seed"]));
}

/// A whole number in [low, high].
inline long pick(std::mt19937_64& random, long low, long high) {
    return std::uniform_int_distribution<long>(low, high)(random);
}

/// True with probability `p`.
inline bool chance(std::mt19937_64& random, double p) {
    return std::bernoulli_distribution(p)(random);
}

/// Prints one figure: "  name  value".
inline void figure(const std::string& name, const std::string& value) {
    std::printf("  %-44s %s\n", name.c_str(), value.c_str());
    std::fflush(stdout);
}
inline void figure(const std::string& name, double value, const char* format = "%.0f") {
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    figure(name, std::string(text));
}

/// A program started with a pipe on its standard input and output and its standard error in a
/// file, for soaks that read the output byte by byte and close either pipe themselves.
class Spawned {
  public:
    Spawned(const std::vector<std::string>& argv, const std::vector<std::string>& environment,
            const std::string& errorFile) {
        int in[2], out[2];
        if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, in[0], 0);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_addopen(&actions, 2, errorFile.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0600);
        std::vector<char*> args, env;
        for (const auto& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
        args.push_back(nullptr);
        std::vector<std::string> all = environment;
        for (char** entry = environ; *entry; ++entry) all.emplace_back(*entry);
        for (const auto& entry : all) env.push_back(const_cast<char*>(entry.c_str()));
        env.push_back(nullptr);
        if (posix_spawn(&pid_, args[0], &actions, nullptr, args.data(), env.data()) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        ::close(in[0]);
        ::close(out[1]);
        input_ = in[1];
        output_ = out[0];
    }
    ~Spawned() {
        closeInput();
        closeOutput();
        if (pid_ > 0 && !status_) {
            ::kill(pid_, SIGKILL);
            int raw = 0;
            ::waitpid(pid_, &raw, 0);
        }
    }
    Spawned(const Spawned&) = delete;
    Spawned& operator=(const Spawned&) = delete;

    pid_t pid() const { return pid_; }
    int input() const { return input_; }
    int output() const { return output_; }
    void closeInput() {
        if (input_ >= 0) ::close(input_);
        input_ = -1;
    }
    void closeOutput() {
        if (output_ >= 0) ::close(output_);
        output_ = -1;
    }
    /// Waits up to `limit` for the program to end: its exit status, or 128 + the signal that
    /// ended it; nothing when it still runs.
    std::optional<int> wait(std::chrono::milliseconds limit) {
        const auto until = SteadyClock::now() + limit;
        while (!status_) {
            int raw = 0;
            const pid_t done = ::waitpid(pid_, &raw, WNOHANG);
            if (done == pid_)
                status_ = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
            else if (SteadyClock::now() >= until)
                break;
            else
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return status_;
    }

  private:
    pid_t pid_ = -1;
    int input_ = -1;
    int output_ = -1;
    std::optional<int> status_;
};

/// Counts faults by kind; a soak ends with status 1 when it saw any.
class Faults {
  public:
    void add(const std::string& kind, const std::string& example = "") {
        auto& entry = seen_[kind];
        if (entry.count++ == 0) entry.example = example;
    }
    bool any() const { return !seen_.empty(); }
    /// Prints every kind with its count and first example; returns the exit status.
    int report() const {
        if (seen_.empty()) {
            std::printf("faults: none\n");
            return 0;
        }
        std::printf("faults:\n");
        for (const auto& [kind, entry] : seen_)
            std::printf("  %-44s %ld  (first: %s)\n", kind.c_str(), entry.count,
                        entry.example.substr(0, 300).c_str());
        return 1;
    }

  private:
    struct Entry {
        long count = 0;
        std::string example;
    };
    std::map<std::string, Entry> seen_;
};

}  // namespace pelko::soak

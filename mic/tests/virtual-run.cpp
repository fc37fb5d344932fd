#include "virtual-run.h"

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>
#include <thread>

namespace pelko::mic::testing {

namespace {

constexpr Duration step = seconds(0.01);
/// How long the driver waits in real time for the stop that closing the input causes.
constexpr auto stopWait = std::chrono::seconds(10);

}  // namespace

VirtualRun::VirtualRun(sim::SimMicrophone microphone)
    : audio(sim::makeSimAudio(clock, std::move(microphone))) {
    int input[2], output[2];
    if (::pipe2(input, O_CLOEXEC) != 0 || ::pipe2(output, O_CLOEXEC | O_NONBLOCK) != 0) {
        throw std::runtime_error("pipe");
    }
    inputRead_ = input[0];
    inputWrite_ = input[1];
    outputRead_ = output[0];
    outputWrite_ = output[1];
    platform_ = std::make_unique<Platform>(Platform{
        *audio,
        clock,
        mainLoop,
        inputRead_,
        outputWrite_,
        [this](std::function<void()> handler) { signalHandler_ = std::move(handler); },
        [this](int status) {
            exits.push_back({now(), status});
        },
    });
}

VirtualRun::~VirtualRun() {
    // The input's end lets the program's reader thread finish before the process goes.
    if (inputWrite_ >= 0) ::close(inputWrite_);
    process.reset();
    for (int fd : {inputRead_, outputRead_, outputWrite_}) ::close(fd);
}

void VirtualRun::closeInputAt(double seconds) {
    actions_.emplace(seconds, [this] {
        ::close(inputWrite_);
        inputWrite_ = -1;
        awaitingStop_ = true;
        awaitingSince_ = std::chrono::steady_clock::now();
    });
}

void VirtualRun::signalAt(double seconds) {
    actions_.emplace(seconds, [this] {
        // Like the signal source: the handler is queued on the main loop.
        if (signalHandler_) mainLoop.post(signalHandler_);
    });
}

void VirtualRun::run(std::vector<std::string> arguments, double until, double linger) {
    until_ = until;
    linger_ = linger;
    arguments.insert(arguments.begin(), "pelko-mic");
    process = std::make_unique<MicProcess>(*platform_, std::move(arguments));
    mainLoop.post([this] { drive(); });
    runMic(*process);
    readOutput();
}

void VirtualRun::drive() {
    readOutput();
    if (awaitingStop_) {
        // The reader thread hands the end of input to this loop; until the stop it causes has
        // run, time stands still. Coming back after the tasks queued meanwhile lets it run.
        if (exits.empty() && std::chrono::steady_clock::now() - awaitingSince_ < stopWait) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            mainLoop.post([this] { drive(); });
            return;
        }
        awaitingStop_ = false;
    }
    const bool exited = !exits.empty();
    if (now() >= until_ - 1e-9 || (exited && now() >= exits.front().at + linger_ - 1e-9)) {
        mainLoop.quit();
        return;
    }
    if (!actions_.empty() && actions_.begin()->first <= now() + 1e-9) {
        // One action at a time, and what it queues runs before time moves on.
        auto action = std::move(actions_.begin()->second);
        actions_.erase(actions_.begin());
        action();
    } else {
        clock.advance(step);
    }
    mainLoop.post([this] { drive(); });
}

void VirtualRun::readOutput() {
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(outputRead_, buffer, sizeof buffer);
        if (n <= 0) break;
        partial_.append(buffer, static_cast<size_t>(n));
    }
    for (size_t end; (end = partial_.find('\n')) != std::string::npos;) {
        lines.push_back({now(), partial_.substr(0, end)});
        partial_.erase(0, end + 1);
    }
}

std::vector<std::string> VirtualRun::texts() const {
    std::vector<std::string> result;
    for (const auto& line : lines) result.push_back(line.text);
    return result;
}

}  // namespace pelko::mic::testing

#include "stream-session.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

#include "output.h"

namespace pelko::phone {

namespace {

// The wake pipe of the session watching for stop signals. A signal handler can reach nothing
// else; -1 while no session watches.
std::atomic<int> signalWakeFd{-1};

// What the session's own end writes into the wake pipe; the signals write their numbers.
constexpr char quitByte = 0;

// How long the ending waits for the queued frames to be written.
constexpr Duration drainLimit = seconds(2);

extern "C" void forwardSignal(int number) {
    const int saved = errno;
    const int fd = signalWakeFd.load();
    const auto byte = static_cast<char>(number);
    // One byte to a non-blocking pipe, so the handler never waits: when the pipe is full, a
    // stop is already waiting to be read.
    if (fd >= 0) {
        [[maybe_unused]] auto written = ::write(fd, &byte, 1);
    }
    errno = saved;
}

}  // namespace

StreamSession::StreamSession(Platform& platform)
    : platform_(platform), writer_(std::make_shared<FramedWriter>(platform.outputFd)) {
    writer_->setOnBrokenPipe([this] { stop(0, std::nullopt); });
}

StreamSession::~StreamSession() {
    claimEnding();
    stopWatching();
    std::thread ender;
    {
        std::lock_guard guard(lock_);
        ender = std::move(ender_);
    }
    if (ender.joinable()) ender.join();
    streamer_.reset();
    // A failing job may still be calling back into the session; afterwards none can.
    writer_->setOnBrokenPipe({});
    writer_->drain();
}

PhoneStreamer& StreamSession::adopt(std::unique_ptr<PhoneStreamer> streamer) {
    std::lock_guard guard(lock_);
    streamer_ = std::move(streamer);
    return *streamer_;
}

bool StreamSession::claimEnding() {
    std::lock_guard guard(lock_);
    if (ending_) return false;
    ending_ = true;
    return true;
}

void StreamSession::finish(std::int32_t code, const std::optional<StreamFailure>& error) {
    if (claimEnding()) end(code, error);
}

void StreamSession::stop(std::int32_t code, std::optional<StreamFailure> error) {
    std::lock_guard guard(lock_);
    if (ending_) return;
    ending_ = true;
    // The ending waits for the capture and writer queues, and the callers here may be on them
    // (a broken pipe) or be what the capture's stop waits for (a notification), so it runs on
    // a thread of its own.
    ender_ = std::thread([this, code, error = std::move(error)] { end(code, error); });
}

void StreamSession::end(std::int32_t code, const std::optional<StreamFailure>& error) {
    PhoneStreamer* streamer;
    {
        std::lock_guard guard(lock_);
        streamer = streamer_.get();
    }
    // Once the capture has stopped, no picture callback is running or will run, so the error
    // frame queued next is the last frame.
    if (streamer) streamer->stop();
    if (error) {
        log(platform_.errorFd, error->message);
        writer_->sendStatus(
            {{"event", "error"}, {"code", error->code}, {"message", error->message}});
    }
    // Every frame queued so far goes out, the error frame included, unless the reader holds
    // them up: the stream was asked to end, and a reader that stalls must not keep it running.
    (void)writer_->drain(platform_.clock, drainLimit);
    platform_.exitProcess(code);
}

void StreamSession::watchHostStops() {
    if (watcher_.joinable()) return;
    auto pipe = makePipe();
    if (!pipe) {
        // Out of descriptors: standard input is still watched, and the session's end then
        // waits for it to close.
        log(platform_.errorFd, "stop signals cannot be watched: " + pipe.error().describe());
    } else {
        wake_ = std::move(pipe).take();
        ::fcntl(wake_.writeEnd.get(), F_SETFL, O_NONBLOCK);
        signalWakeFd.store(wake_.writeEnd.get());
        for (auto [number, former] : {std::pair{SIGTERM, &formerTerm_}, {SIGINT, &formerInt_}}) {
            struct sigaction action {};
            action.sa_handler = forwardSignal;
            sigemptyset(&action.sa_mask);
            action.sa_flags = SA_RESTART;
            ::sigaction(number, &action, former);
        }
    }
    watcher_ = std::thread([this] { watchHost(); });
}

void StreamSession::watchHost() {
    const Wait untilWoken{.deadline = {}, .wakeFd = wake_.readEnd.get()};
    char byte = 0;
    for (;;) {
        auto ready = waitReady(platform_.inputFd, POLLIN, untilWoken);
        if (!ready && ready.error().number == ECANCELED) {
            // A stop signal, or the session's own end.
            auto woken = readSome(wake_.readEnd.get(), &byte, 1);
            if (woken && woken.value() == 1 && byte == quitByte) return;
            break;
        }
        if (!ready) break;
        // The host sends nothing on standard input; whatever comes is read and dropped.
        auto got = readSome(platform_.inputFd, &byte, 1);
        if (!got || got.value() == 0) break;
    }
    stop(0, std::nullopt);
}

void StreamSession::stopWatching() {
    if (!watcher_.joinable()) return;
    if (wake_.writeEnd.valid()) {
        ::sigaction(SIGTERM, &formerTerm_, nullptr);
        ::sigaction(SIGINT, &formerInt_, nullptr);
        signalWakeFd.store(-1);
        // A full pipe already holds a byte that wakes the watcher.
        [[maybe_unused]] auto woken =
            writeAll(wake_.writeEnd.get(), std::string_view(&quitByte, 1),
                     Wait{.deadline = std::chrono::steady_clock::now(), .wakeFd = -1});
    }
    watcher_.join();
}

}  // namespace pelko::phone

// pelko-computer's MCP face (`pelko-computer --mcp`): a Model Context Protocol server over its
// standard streams, beside the line protocol and sharing its request handler and queues.
//
// The session: `initialize` (protocol version negotiation), `notifications/initialized`,
// `ping`, `tools/list`, `tools/call`, `logging/setLevel`, and `notifications/cancelled` for a
// call in flight. A tool call runs its method through `handle` on the `work` queue, one at a
// time in arrival order, as a line request does; everything else is answered on the reader
// thread at once, so `ping` never waits behind a long action.
//
// The banner: an acting tool (any tool not marked read-only) puts it up when it starts; it
// comes down `bannerLinger` after the last acting call ended, so that an agent's run of
// actions shows one steady banner instead of a flicker. While it is up, the user's Escape
// stops every call in flight (the one running ends at its next pause, queued ones never start;
// each is answered with a tool error saying so), takes the banner down and is reported to the
// client as a log message. The program's events become log messages: `front` at "info", the
// Escape at "warning".
#pragma once

#include <atomic>
#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "cancellation.h"
#include "computer.h"
#include "mcp-framing.h"
#include "mcp-tools.h"
#include "request-loop.h"

namespace pelko::computer::mcp {

/// The revisions the face speaks, newest first: a client asking for another gets the first.
inline const std::vector<std::string> protocolVersions = {"2025-11-25", "2025-06-18"};

/// How long the banner stays up after the last acting call ended.
constexpr Duration bannerLinger = std::chrono::seconds(10);

/// What a call stopped by the user's Escape answers.
inline const std::string stoppedByUser =
    "The user pressed Escape to stop you, so this call was stopped. Do not act on this "
    "computer again until the user asks you to.";

class MCPServer {
  public:
    /// Serves on `computer`, whose events it takes over. Calls stop in flight only when the
    /// computer's platform clock is a `CancellableClock` (as `runMCPServer` makes it). Must
    /// outlive every task it queues on the computer's queues and main loop.
    explicit MCPServer(Computer& computer);
    MCPServer(const MCPServer&) = delete;
    MCPServer& operator=(const MCPServer&) = delete;

    /// Takes one input line (on the reader thread): answers it, queues it, or drops it.
    void serve(const std::string& line);
    /// The face for `runComputer`.
    Face face();

  private:
    enum class StoppedBy { nobody, client, user };
    struct Call {
        JSON id;
        std::string key;  // the id's compact text
        const Tool* tool;
        JSON arguments;
        std::shared_ptr<Cancellation> cancellation;
        bool running = false;  // guarded by mutex_, as is stoppedBy
        StoppedBy stoppedBy = StoppedBy::nobody;
    };

    void answerRequest(const Request& request);
    void takeNotification(const Notification& notification);
    JSON initialize(const Request& request);
    void callTool(const Request& request);
    void runCall(const std::shared_ptr<Call>& call);
    void cancel(const JSON& requestId);
    void takeEvent(const JSON& event);
    void userEscape();
    void raiseBanner();
    void lowerBannerLater();
    void showBanner(bool show);
    void log(const std::string& level, const std::string& text);
    void send(const JSON& message);

    Computer& computer_;
    /// Reader thread only.
    bool initialized_ = false;
    /// The lowest log level sent (an index into the levels, "debug" first).
    std::atomic<int> logThreshold_;

    std::mutex mutex_;
    /// Calls queued or running, by their id's compact text.
    std::map<std::string, std::shared_ptr<Call>> calls_;
    /// Counts the banner's changes, so that a late lowering leaves a newer banner alone.
    uint64_t bannerGeneration_ = 0;
    bool bannerUp_ = false;
};

/// The process as an MCP server: makes the cancellable clock over `platform`'s, the process-wide
/// values and the server, and runs until the end of `inputFd` (the process ends inside).
[[noreturn]] void runMCPServer(Platform& platform, int inputFd);

}  // namespace pelko::computer::mcp

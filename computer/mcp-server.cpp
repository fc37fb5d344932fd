#include "mcp-server.h"

#include <algorithm>
#include <cstdio>

#include "cancellation.h"
#include "utf8.h"

namespace pelko::computer::mcp {
namespace {

// MCP's log levels, least severe first.
const std::vector<std::string> logLevels = {"debug",    "info",  "notice", "warning",
                                            "error",    "critical", "alert", "emergency"};

int levelRank(const std::string& level) {
    const auto found = std::find(logLevels.begin(), logLevels.end(), level);
    return found == logLevels.end() ? -1 : static_cast<int>(found - logLevels.begin());
}

const JSON serverInfo = {
    {"name", "pelko-computer"}, {"title", "Pelko computer"}, {"version", "1.0.0"}};

const std::string instructions =
    "Reads and acts on the apps of this computer's desktop. Call get_app_state first: its "
    "outline numbers the elements ([12]) that the acting tools take. While tools act, a banner "
    "tells the user, who can stop you with Escape.";

}  // namespace

MCPServer::MCPServer(Computer& computer)
    : computer_(computer), logThreshold_(levelRank("info")) {
    computer_.output.divertEvents([this](const JSON& event) { takeEvent(event); });
}

Face MCPServer::face() {
    return {[this](const std::string& line) { serve(line); }, nullptr};
}

void MCPServer::serve(const std::string& line) {
    const Message message = readMessage(line);
    if (const auto* request = std::get_if<Request>(&message)) {
        answerRequest(*request);
    } else if (const auto* notification = std::get_if<Notification>(&message)) {
        takeNotification(*notification);
    } else if (const auto* refusal = std::get_if<Refusal>(&message)) {
        send(refusal->reply);
    }
}

void MCPServer::answerRequest(const Request& request) {
    const std::string& method = request.method;
    if (method == "ping") return send(resultReply(request.id, JSON::object()));
    if (method == "initialize") {
        if (initialized_)
            return send(errorReply(request.id, ErrorCode::invalidRequest,
                                   "The session is initialized already."));
        const JSON result = initialize(request);
        if (result.is_null())
            return send(errorReply(request.id, ErrorCode::invalidParams,
                                   "initialize needs the client's protocolVersion."));
        initialized_ = true;
        return send(resultReply(request.id, result));
    }
    if (!initialized_)
        return send(errorReply(request.id, ErrorCode::invalidRequest, "Send initialize first."));
    if (method == "tools/list") {
        JSON listed = JSON::array();
        for (const auto& tool : tools()) listed.push_back(tool.definition);
        return send(resultReply(request.id, {{"tools", listed}}));
    }
    if (method == "tools/call") return callTool(request);
    if (method == "logging/setLevel") {
        const int rank = levelRank(request.params.value("level", ""));
        if (rank < 0)
            return send(errorReply(request.id, ErrorCode::invalidParams,
                                   "The level is one of debug, info, notice, warning, error, "
                                   "critical, alert, emergency."));
        logThreshold_ = rank;
        return send(resultReply(request.id, JSON::object()));
    }
    send(errorReply(request.id, ErrorCode::methodNotFound, "Unknown method " + method + "."));
}

JSON MCPServer::initialize(const Request& request) {
    const auto asked = request.params.find("protocolVersion");
    if (asked == request.params.end() || !asked->is_string()) return nullptr;
    const bool known = std::find(protocolVersions.begin(), protocolVersions.end(),
                                 asked->get<std::string>()) != protocolVersions.end();
    return {{"protocolVersion", known ? asked->get<std::string>() : protocolVersions.front()},
            {"capabilities", {{"tools", {{"listChanged", false}}}, {"logging", JSON::object()}}},
            {"serverInfo", serverInfo},
            {"instructions", instructions}};
}

void MCPServer::takeNotification(const Notification& notification) {
    // "notifications/initialized" needs nothing: requests are served from `initialize` on.
    if (notification.method == "notifications/cancelled")
        cancel(notification.params.value("requestId", JSON()));
}

void MCPServer::callTool(const Request& request) {
    const auto name = request.params.find("name");
    if (name == request.params.end() || !name->is_string())
        return send(errorReply(request.id, ErrorCode::invalidParams,
                               "tools/call names its tool under \"name\"."));
    const Tool* tool = findTool(name->get<std::string>());
    if (!tool)
        return send(errorReply(request.id, ErrorCode::invalidParams,
                               "Unknown tool " + name->get<std::string>() + "."));
    const auto arguments = request.params.find("arguments");
    if (arguments != request.params.end() && !arguments->is_object())
        return send(errorReply(request.id, ErrorCode::invalidParams,
                               "A tool's arguments are an object."));
    auto call = std::make_shared<Call>();
    call->id = request.id;
    call->key = request.id.dump();
    call->tool = tool;
    call->arguments = arguments == request.params.end() ? JSON::object() : *arguments;
    call->cancellation = std::make_shared<Cancellation>();
    {
        std::lock_guard lock(mutex_);
        if (!calls_.emplace(call->key, call).second)
            return send(errorReply(request.id, ErrorCode::invalidRequest,
                                   "A call with this id is still in flight."));
    }
    computer_.work.async([this, call] { runCall(call); });
}

void MCPServer::runCall(const std::shared_ptr<Call>& call) {
    {
        std::lock_guard lock(mutex_);
        if (call->stoppedBy == StoppedBy::nobody) call->running = true;
    }
    const bool acting = !call->tool->readOnly;
    JSON result;
    bool stopped = !call->running;  // stopped before it started
    if (!stopped) {
        if (acting) raiseBanner();
        const CancellationScope scope(call->cancellation);
        try {
            result = toolResult(*call->tool, handle(computer_, call->tool->method, call->arguments));
        } catch (const Failure& failure) {
            result = toolError(failure.message);
        } catch (const Cancelled&) {
            stopped = true;
        } catch (const std::exception& error) {
            result = toolError(repairUTF8(error.what()));
        } catch (...) {
            result = toolError("Something went wrong.");
        }
    }
    StoppedBy stoppedBy;
    {
        std::lock_guard lock(mutex_);
        calls_.erase(call->key);
        stoppedBy = call->stoppedBy;
    }
    if (acting && call->running) lowerBannerLater();
    // A call the client cancelled is not answered; one the user stopped says so, unless it
    // finished before it came to a pause.
    if (stoppedBy == StoppedBy::client) return;
    send(resultReply(call->id, stopped ? toolError(stoppedByUser) : result));
}

void MCPServer::cancel(const JSON& requestId) {
    if (!isRequestId(requestId)) return;
    std::lock_guard lock(mutex_);
    const auto found = calls_.find(requestId.dump());
    if (found == calls_.end() || found->second->stoppedBy != StoppedBy::nobody) return;
    found->second->stoppedBy = StoppedBy::client;
    found->second->cancellation->raise();
}

void MCPServer::takeEvent(const JSON& event) {
    const std::string name = event.value("event", "");
    if (name == "stop") return userEscape();
    if (name == "front") {
        const std::string app = event.value("app", "");
        log("info", "Bringing " + (app.empty() ? std::string("an app") : app) + " to the front.");
    }
}

void MCPServer::userEscape() {
    std::string stoppedTool;
    {
        std::lock_guard lock(mutex_);
        for (auto& [key, call] : calls_) {
            if (call->stoppedBy != StoppedBy::nobody) continue;
            call->stoppedBy = StoppedBy::user;
            call->cancellation->raise();
            if (call->running) stoppedTool = call->tool->name;
        }
        ++bannerGeneration_;
        bannerUp_ = false;
    }
    log("warning", stoppedTool.empty()
                       ? "The user pressed Escape."
                       : "The user pressed Escape: " + stoppedTool + " was stopped.");
    showBanner(false);
}

void MCPServer::raiseBanner() {
    bool show;
    {
        std::lock_guard lock(mutex_);
        ++bannerGeneration_;
        show = !bannerUp_;
        bannerUp_ = true;
    }
    if (show) showBanner(true);
}

void MCPServer::lowerBannerLater() {
    uint64_t generation;
    {
        std::lock_guard lock(mutex_);
        generation = ++bannerGeneration_;
    }
    computer_.platform.mainLoop.postAfter(bannerLinger, [this, generation] {
        {
            std::lock_guard lock(mutex_);
            // A call that acted since, or the user's Escape, has taken the banner over.
            if (generation != bannerGeneration_ || !bannerUp_) return;
            bannerUp_ = false;
        }
        showBanner(false);
    });
}

void MCPServer::showBanner(bool show) {
    // The banner method of the line protocol, with its default text.
    handle(computer_, "banner", {{"show", show}});
}

void MCPServer::log(const std::string& level, const std::string& text) {
    if (levelRank(level) < logThreshold_) return;
    send(notificationMessage("notifications/message",
                             {{"level", level}, {"logger", "pelko-computer"}, {"data", text}}));
}

void MCPServer::send(const JSON& message) {
    if (computer_.output.emit(message) || !message.contains("id")) return;
    // A reply that cannot be written (text that is not UTF-8) still ends the client's wait.
    computer_.output.emit(errorReply(message["id"], ErrorCode::internalError,
                                     "The reply could not be written as UTF-8 text."));
}

void runMCPServer(Platform& platform, int inputFd) {
    CancellableClock clock(platform.clock);
    Platform stoppable{clock,
                       platform.mainLoop,
                       platform.application,
                       platform.accessibility,
                       platform.screenCapture,
                       platform.workspace,
                       platform.events,
                       platform.panels};
    // The process-wide values; the process ends inside `runComputer`, so they outlive every
    // thread that uses them.
    Computer computer(stoppable, stdout);
    MCPServer server(computer);
    const Face face = server.face();
    runComputer(computer, inputFd, face);
}

}  // namespace pelko::computer::mcp

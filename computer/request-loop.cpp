#include "request-loop.h"

#include <cstdlib>
#include <thread>

#include "apps.h"
#include "banner.h"
#include "click.h"
#include "fd.h"
#include "menus.h"
#include "method.h"
#include "screenshot.h"
#include "scrolling.h"
#include "state-reader.h"
#include "typing.h"
#include "utf8.h"

namespace pelko::computer {
namespace {

// The status of both permissions, as `status` and `requestAccess` report it.
JSON permissions(Computer& computer) {
    return {{"accessibility", computer.platform.accessibility.isTrusted()},
            {"screenRecording", computer.platform.screenCapture.preflight()}};
}

const std::string settingsPane = "x-apple.systempreferences:com.apple.preference.security";

JSON status(Computer& computer, const JSON&) {
    return permissions(computer);
}

JSON requestAccess(Computer& computer, const JSON& params) {
    const std::string kind = param<std::string>(params, "kind").value_or("accessibility");
    Platform& platform = computer.platform;
    if (kind == "screen") {
        if (!platform.screenCapture.preflight()) platform.screenCapture.request();
        platform.workspace.openURL(settingsPane + "?Privacy_ScreenCapture");
    } else {
        platform.accessibility.isTrustedWithPrompt();
        platform.workspace.openURL(settingsPane + "?Privacy_Accessibility");
    }
    return permissions(computer);
}

JSON ping(Computer&, const JSON&) {
    return {{"pong", true}};
}

using Method = JSON (*)(Computer&, const JSON&);

struct MethodEntry {
    std::string_view name;
    Method run;
};

// In the order in which names are compared.
const MethodEntry methods[] = {
    {"status", status},
    {"requestAccess", requestAccess},
    {"listApps", listApps},
    {"find", find},
    {"resolve", resolve},
    {"state", state},
    {"screenshot", screenshot},
    {"click", click},
    {"setValue", setValue},
    {"typeText", typeText},
    {"pressKey", pressKey},
    {"scroll", scroll},
    {"action", action},
    {"menu", menu},
    {"banner", banner},
    {"ping", ping},
};

JSON reply(const JSON& id, Computer& computer, const std::string& method, const JSON& params) {
    try {
        return {{"id", id}, {"result", handle(computer, method, params)}};
    } catch (const Failure& failure) {
        return {{"id", id}, {"error", failure.message}, {"code", failure.code}};
    } catch (const std::exception& error) {
        return {{"id", id}, {"error", repairUTF8(error.what())}, {"code", "failed"}};
    } catch (...) {
        return {{"id", id}, {"error", "Something went wrong."}, {"code", "failed"}};
    }
}

// Reads standard input line by line until its end, handing each non-empty line to `serve`.
void readRequests(int inputFd, const std::function<void(const std::string&)>& serve) {
    std::string pending;
    char chunk[65536];
    for (;;) {
        // A failed read ends the input as its end does.
        const auto got = readSome(inputFd, chunk, sizeof chunk);
        if (!got || got.value() == 0) break;
        pending.append(chunk, got.value());
        size_t start = 0;
        for (size_t newline; (newline = pending.find('\n', start)) != std::string::npos;
             start = newline + 1) {
            if (newline > start)
                serve(repairUTF8(std::string_view(pending).substr(start, newline - start)));
        }
        pending.erase(0, start);
    }
    if (!pending.empty()) serve(repairUTF8(pending));
}

}  // namespace

JSON handle(Computer& computer, const std::string& method, const JSON& params) {
    for (const auto& entry : methods) {
        if (entry.name == method) return entry.run(computer, params);
    }
    throw Failure{"Unknown method " + method + ".", "bad-input"};
}

void serve(Computer& computer, const std::string& line) {
    auto request = parseJSON(line);
    if (!request || !request->is_object()) return;
    JSON id = request->contains("id") ? (*request)["id"] : JSON(nullptr);
    const auto methodValue = request->find("method");
    std::string method = methodValue != request->end() && methodValue->is_string()
                             ? methodValue->get<std::string>()
                             : std::string();
    const auto paramsValue = request->find("params");
    JSON params =
        paramsValue != request->end() && paramsValue->is_object() ? *paramsValue : JSON::object();
    SerialQueue& queue = method == "banner" ? computer.uiWork : computer.work;
    queue.async(
        [&computer, id = std::move(id), method = std::move(method), params = std::move(params)] {
            computer.output.emit(reply(id, computer, method, params));
        });
}

void runComputer(Computer& computer, int inputFd, const Face& face) {
    Platform& platform = computer.platform;
    platform.application.becomeAccessory();
    installEscapeMonitor(computer);
    // Panels belong to this thread from now on: a banner request read before the loop runs
    // waits for it rather than drawing on its queue.
    platform.mainLoop.claimCurrentThread();
    std::thread([&computer, &face, inputFd] {
        readRequests(inputFd, face.serve);
        // Requests still queued or running are abandoned: the process ends at once.
        computer.platform.mainLoop.post([&computer] {
            computer.output.holdForExit();
            std::_Exit(0);
        });
    }).detach();
    if (face.started) face.started();
    platform.mainLoop.run();
    std::_Exit(0);
}

void runComputer(Computer& computer, int inputFd) {
    // Lives as long as the process: the call below never returns.
    const Face lineProtocol{
        [&computer](const std::string& line) { serve(computer, line); },
        [&computer] {
            Platform& platform = computer.platform;
            computer.output.emit({{"event", "ready"},
                                  {"accessibility", platform.accessibility.isTrusted()},
                                  {"screenRecording", platform.screenCapture.preflight()}});
        }};
    runComputer(computer, inputFd, lineProtocol);
}

}  // namespace pelko::computer

#include "request-loop.h"

#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <thread>

#include "apps.h"
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

// Methods whose capability has not been built yet answer with a plain failure.
template <const char* Name>
JSON notYet(Computer&, const JSON&) {
    throw Failure{std::string("The ") + Name + " method is not available yet."};
}
constexpr char screenshotName[] = "screenshot", clickName[] = "click",
               setValueName[] = "setValue", typeTextName[] = "typeText", pressKeyName[] = "pressKey",
               scrollName[] = "scroll", actionName[] = "action", menuName[] = "menu";

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
    {"screenshot", notYet<screenshotName>},
    {"click", notYet<clickName>},
    {"setValue", notYet<setValueName>},
    {"typeText", notYet<typeTextName>},
    {"pressKey", notYet<pressKeyName>},
    {"scroll", notYet<scrollName>},
    {"action", notYet<actionName>},
    {"menu", notYet<menuName>},
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
void readRequests(Computer& computer, int inputFd) {
    std::string pending;
    char chunk[65536];
    for (;;) {
        const ssize_t n = read(inputFd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        pending.append(chunk, static_cast<size_t>(n));
        size_t start = 0;
        for (size_t newline; (newline = pending.find('\n', start)) != std::string::npos;
             start = newline + 1) {
            if (newline > start)
                serve(computer,
                      repairUTF8(std::string_view(pending).substr(start, newline - start)));
        }
        pending.erase(0, start);
    }
    if (!pending.empty()) serve(computer, repairUTF8(pending));
}

}  // namespace

void LineOutput::emit(const JSON& object) {
    const auto text = compactJSON(object);
    if (!text) return;
    std::lock_guard lock(writeLock_);
    // The stream's own lock too: the end of input flushes and exits while holding it, so a
    // line is written whole or not at all.
    flockfile(stream_);
    std::fputs(text->c_str(), stream_);
    std::fputc('\n', stream_);
    std::fflush(stream_);
    funlockfile(stream_);
}

Computer::Computer(Platform& platform, std::FILE* output) : platform(platform), output(output) {}

template <>
std::optional<std::string> param(const JSON& params, std::string_view key) {
    const auto found = params.find(key);
    if (found == params.end() || !found->is_string()) return std::nullopt;
    return found->get<std::string>();
}

template <>
std::optional<bool> param(const JSON& params, std::string_view key) {
    const auto found = params.find(key);
    if (found == params.end() || !found->is_boolean()) return std::nullopt;
    return found->get<bool>();
}

template <>
std::optional<std::vector<std::string>> param(const JSON& params, std::string_view key) {
    const auto found = params.find(key);
    if (found == params.end() || !found->is_array()) return std::nullopt;
    std::vector<std::string> texts;
    for (const auto& item : *found) {
        if (!item.is_string()) return std::nullopt;
        texts.push_back(item.get<std::string>());
    }
    return texts;
}

std::optional<int64_t> intParam(const JSON& params, std::string_view key) {
    const auto found = params.find(key);
    if (found == params.end()) return std::nullopt;
    const JSON& value = *found;
    if (value.is_boolean()) return value.get<bool>() ? 1 : 0;
    if (value.is_number_integer() && !value.is_number_unsigned()) return value.get<int64_t>();
    if (value.is_number_unsigned()) {
        const uint64_t big = value.get<uint64_t>();
        constexpr auto most = std::numeric_limits<int64_t>::max();
        return big > static_cast<uint64_t>(most) ? most : static_cast<int64_t>(big);
    }
    if (value.is_number_float()) {
        // Converting a double outside the integer range is undefined; hold it at the ends.
        const double truncated = std::trunc(value.get<double>());
        if (truncated >= 9223372036854775807.0) return std::numeric_limits<int64_t>::max();
        if (truncated <= -9223372036854775808.0) return std::numeric_limits<int64_t>::min();
        return static_cast<int64_t>(truncated);
    }
    return std::nullopt;
}

std::optional<double> doubleParam(const JSON& params, std::string_view key) {
    const auto found = params.find(key);
    if (found == params.end() || !found->is_number()) return std::nullopt;
    return found->get<double>();
}

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

void runComputer(Platform& platform, int inputFd) {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    // The process-wide values: the write lock, the overlay and the two queues.
    static Computer computer(platform, stdout);
    platform.application.becomeAccessory();
    installEscapeMonitor(computer);
    // Panels belong to this thread from now on: a banner request read before the loop runs
    // waits for it rather than drawing on its queue.
    platform.mainLoop.claimCurrentThread();
    std::thread([inputFd] {
        readRequests(computer, inputFd);
        // Requests still queued or running are abandoned: the process ends at once.
        computer.platform.mainLoop.post([] {
            // Holding the stream for good lets no line be cut in half by the end.
            flockfile(stdout);
            std::fflush(stdout);
            std::_Exit(0);
        });
    }).detach();
    computer.output.emit({{"event", "ready"},
                          {"accessibility", platform.accessibility.isTrusted()},
                          {"screenRecording", platform.screenCapture.preflight()}});
    platform.mainLoop.run();
    std::_Exit(0);
}

}  // namespace pelko::computer

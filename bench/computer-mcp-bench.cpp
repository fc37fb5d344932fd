// What the MCP face costs beside the line protocol, measured side by side on the sample desktop:
// the same methods through both faces of one binary, one request at a time (a round trip is
// from writing the request to reading its reply), and the size of what `tools/list` puts in
// front of a model, tool by tool. Prints its figures; never part of the tests.
//
//   pelko-computer-mcp-bench [ITERATIONS]     (default 2000; state reads take a tenth of them)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "child-process.h"
#include "json-line.h"

namespace {

using pelko::JSON;
using pelko::testing::ChildOptions;
using pelko::testing::ChildProcess;
using Clock = std::chrono::steady_clock;

struct Figures {
    double median = 0, p90 = 0;  // microseconds
    size_t replyBytes = 0;       // of the last reply line
};

// Sends `request` `count` times (after a tenth as many to warm up) and times each round trip.
Figures timeRoundTrips(ChildProcess& child, const JSON& request, int count) {
    const std::string line = request.dump();
    std::vector<double> micros;
    std::string reply;
    for (int i = -count / 10; i < count; ++i) {
        const auto start = Clock::now();
        child.writeLine(line);
        // Events and log messages may come first; the reply carries the request's id.
        for (;;) {
            auto got = child.readLine(std::chrono::seconds(30));
            if (!got) {
                std::fprintf(stderr, "no reply to %s\n", line.c_str());
                std::exit(1);
            }
            const auto value = pelko::parseJSON(*got);
            if (value && value->contains("id")) {
                reply = std::move(*got);
                break;
            }
        }
        const double elapsed =
            std::chrono::duration<double, std::micro>(Clock::now() - start).count();
        if (i >= 0) micros.push_back(elapsed);
    }
    std::sort(micros.begin(), micros.end());
    return {micros[micros.size() / 2], micros[micros.size() * 9 / 10], reply.size()};
}

ChildOptions onTheSampleDesktop() {
    ChildOptions options;
    options.environment = {{"PELKO_SCENE", PELKO_EXAMPLES_DIR "/scenes/desktop.json"}};
    return options;
}

JSON mcpRequest(const std::string& method, const JSON& params) {
    return {{"jsonrpc", "2.0"}, {"id", 1}, {"method", method}, {"params", params}};
}

JSON toolCall(const std::string& tool, const JSON& arguments) {
    return mcpRequest("tools/call", {{"name", tool}, {"arguments", arguments}});
}

}  // namespace

int main(int argc, char** argv) {
    const int count = argc > 1 ? std::atoi(argv[1]) : 2000;
    ChildProcess lines({PELKO_COMPUTER}, onTheSampleDesktop());
    lines.readLine();  // ready
    ChildProcess mcp({PELKO_COMPUTER, "--mcp"}, onTheSampleDesktop());
    mcp.writeLine(mcpRequest("initialize", {{"protocolVersion", "2025-11-25"},
                                            {"capabilities", JSON::object()},
                                            {"clientInfo", {{"name", "bench"}, {"version", "1"}}}})
                      .dump());
    mcp.readLine();
    mcp.writeLine(R"({"jsonrpc": "2.0", "method": "notifications/initialized"})");

    mcp.writeLine(mcpRequest("tools/list", JSON::object()).dump());
    const auto listed = mcp.readLine();
    const JSON tools = JSON::parse(*listed)["result"]["tools"];
    std::printf("tools/list: %zu tools, %zu bytes in its reply line\n", tools.size(),
                listed->size());
    std::printf("  %-16s %7s %8s\n", "tool", "bytes", "schema");
    for (const auto& tool : tools) {
        std::printf("  %-16s %7zu %8zu\n", tool["name"].get<std::string>().c_str(),
                    tool.dump().size(), tool["inputSchema"].dump().size());
    }

    struct Pair {
        const char* what;
        JSON line;
        JSON mcp;
        int count;
    };
    const JSON notes = {{"app", "Notes"}};
    const Pair pairs[] = {
        {"ping", {{"id", 1}, {"method", "ping"}}, mcpRequest("ping", JSON::object()), count},
        {"list apps", {{"id", 1}, {"method", "listApps"}}, toolCall("list_apps", JSON::object()),
         count},
        {"state of Notes", {{"id", 1}, {"method", "state"}, {"params", notes}},
         toolCall("get_app_state", notes), std::max(count / 10, 10)},
    };
    std::printf("\nround trips, one request at a time (microseconds; reply line in bytes)\n");
    std::printf("  %-16s %6s | %8s %8s %6s | %8s %8s %6s | %9s\n", "", "n", "lines", "p90",
                "bytes", "mcp", "p90", "bytes", "mcp-lines");
    for (const auto& pair : pairs) {
        const Figures line = timeRoundTrips(lines, pair.line, pair.count);
        const Figures face = timeRoundTrips(mcp, pair.mcp, pair.count);
        std::printf("  %-16s %6d | %8.1f %8.1f %6zu | %8.1f %8.1f %6zu | %+9.1f\n", pair.what,
                    pair.count, line.median, line.p90, line.replyBytes, face.median, face.p90,
                    face.replyBytes, face.median - line.median);
    }
}

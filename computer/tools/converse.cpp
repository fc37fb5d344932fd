// Plays a scripted host conversation with pelko-computer and prints it readably.
//
//   pelko-converse <program> <conversation>
//
// The conversation holds one request per line; lines starting with '#' are narration and are
// printed as they stand. After each request the tool prints the lines that come back up to the
// reply carrying the request's id (events on the way included), or stops waiting after 30 s.
#include <chrono>
#include <fstream>
#include <iostream>
#include <string>
#include <utility>
#include <vector>

#include "child-process.h"
#include "json-line.h"

namespace {

using pelko::JSON;
using pelko::testing::ChildProcess;

// Prints an outline (lines joined with "\n") under its key, one line each, so it reads as the
// agent sees it.
void printOutline(const char* key, const std::string& outline) {
    std::cout << "    " << key << ":\n";
    for (size_t start = 0; start <= outline.size();) {
        size_t end = outline.find('\n', start);
        if (end == std::string::npos) end = outline.size();
        std::cout << "      " << outline.substr(start, end - start) << "\n";
        start = end + 1;
    }
}

// Short lines stay on one line; long ones are laid out over several, indented. Outlines in a
// result are shown as text of their own below it.
void printIncoming(JSON line) {
    const bool event = line.contains("event");
    std::vector<std::pair<const char*, std::string>> outlines;
    if (line.contains("result") && line["result"].is_object()) {
        for (const char* key : {"tree", "part"}) {
            auto& result = line["result"];
            if (result.contains(key) && result[key].is_string() && !result[key].get<std::string>().empty()) {
                outlines.emplace_back(key, result[key].get<std::string>());
                result[key] = "(below)";
            }
        }
    }
    const std::string compact = line.dump(-1);
    std::cout << (event ? "  ⇠ event " : "  ← ");
    if (compact.size() <= 100) {
        std::cout << compact << "\n";
    } else {
        const std::string laidOut = line.dump(2);
        for (size_t start = 0; start < laidOut.size();) {
            size_t end = laidOut.find('\n', start);
            if (end == std::string::npos) end = laidOut.size();
            std::cout << (start == 0 ? "" : "    ") << laidOut.substr(start, end - start) << "\n";
            start = end + 1;
        }
    }
    for (const auto& [key, outline] : outlines) printOutline(key, outline);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::cerr << "usage: pelko-converse <program> <conversation>\n";
        return 2;
    }
    std::ifstream script(argv[2]);
    if (!script) {
        std::cerr << "pelko-converse: cannot read " << argv[2] << "\n";
        return 1;
    }
    ChildProcess program({argv[1]});
    const auto timeout = std::chrono::seconds(30);
    if (auto ready = program.readLine(timeout)) {
        if (auto value = pelko::parseJSON(*ready)) printIncoming(*value);
    }
    std::string line;
    bool narrating = false;
    while (std::getline(script, line)) {
        if (line.empty()) continue;
        if (line[0] == '#') {
            std::cout << (narrating ? "" : "\n") << line << "\n";
            narrating = true;
            continue;
        }
        narrating = false;
        auto request = pelko::parseJSON(line);
        if (!request) {
            std::cerr << "pelko-converse: not JSON: " << line << "\n";
            return 1;
        }
        std::cout << "  → " << request->dump(-1) << "\n";
        program.writeLine(request->dump(-1));
        for (;;) {
            auto incoming = program.readLine(timeout);
            if (!incoming) {
                std::cout << "  (no reply within 30 s)\n";
                break;
            }
            auto value = pelko::parseJSON(*incoming);
            if (!value) continue;
            printIncoming(*value);
            if (value->contains("id") && (*value)["id"] == request->value("id", JSON())) break;
        }
    }
    program.closeStdin();
    const auto status = program.waitExit(std::chrono::seconds(10));
    std::cout << "\nend of input: ";
    if (status)
        std::cout << "the program ended with " << *status << "\n";
    else
        std::cout << "the program is still running\n";
    return status && status->exited && status->code == 0 ? 0 : 1;
}

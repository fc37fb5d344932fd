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

#include "child-process.h"
#include "json-line.h"

namespace {

using pelko::Json;
using pelko::testing::ChildProcess;

// Short lines stay on one line; long ones are laid out over several, indented.
void printIncoming(const Json& line) {
    const bool event = line.contains("event");
    const std::string compact = line.dump(-1);
    std::cout << (event ? "  ⇠ event " : "  ← ");
    if (compact.size() <= 100) {
        std::cout << compact << "\n";
        return;
    }
    const std::string laidOut = line.dump(2);
    for (size_t start = 0; start < laidOut.size();) {
        size_t end = laidOut.find('\n', start);
        if (end == std::string::npos) end = laidOut.size();
        std::cout << (start == 0 ? "" : "    ") << laidOut.substr(start, end - start) << "\n";
        start = end + 1;
    }
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
        if (auto value = pelko::parseJson(*ready)) printIncoming(*value);
    }
    std::string line;
    while (std::getline(script, line)) {
        if (line.empty()) continue;
        if (line[0] == '#') {
            std::cout << "\n" << line << "\n";
            continue;
        }
        auto request = pelko::parseJson(line);
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
            auto value = pelko::parseJson(*incoming);
            if (!value) continue;
            printIncoming(*value);
            if (value->contains("id") && (*value)["id"] == request->value("id", Json())) break;
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

// Plays a scripted host conversation with pelko-computer and prints it readably.
//
//   pelko-converse [--pictures <folder>] <program> <conversation>
//
// The conversation holds one request per line; lines starting with '#' are narration and are
// printed as they stand. After each request the tool prints the lines that come back up to the
// reply carrying the request's id (events on the way included), or stops waiting after 30 s.
// A picture in a result ("data" with a "mimeType") is shown by its size; with --pictures it is
// also written to that folder as picture-<id>.jpg.
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <utility>
#include <vector>

#include "base64.h"
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

// A picture's Base64 text in a result is replaced by a note of its size, and the picture is
// written into `pictures` when a folder is given.
void notePicture(JSON& line, const std::string& pictures) {
    if (!line.contains("result") || !line["result"].is_object()) return;
    JSON& result = line["result"];
    if (!result.contains("data") || !result["data"].is_string() || !result.contains("mimeType"))
        return;
    const std::string text = result["data"].get<std::string>();
    const auto bytes = pelko::pictures::decodeBase64(text);
    if (!bytes) return;
    std::string note = "(" + std::to_string(bytes->size()) + " bytes in " +
                       std::to_string(text.size()) + " characters of Base64";
    if (!pictures.empty()) {
        const JSON& id = line["id"];
        const std::string name =
            "picture-" + (id.is_number_integer() ? id.dump() : std::string("reply")) + ".jpg";
        const std::filesystem::path path = std::filesystem::path(pictures) / name;
        std::filesystem::create_directories(pictures);
        std::ofstream file(path, std::ios::binary);
        file.write(reinterpret_cast<const char*>(bytes->data()),
                   static_cast<std::streamsize>(bytes->size()));
        note += file ? ", written to " + path.string() : ", not written: " + path.string();
    }
    result["data"] = note + ")";
}

// Short lines stay on one line; long ones are laid out over several, indented. Outlines in a
// result are shown as text of their own below it.
void printIncoming(JSON line, const std::string& pictures) {
    notePicture(line, pictures);
    const bool event = line.contains("event");
    std::vector<std::pair<const char*, std::string>> outlines;
    if (line.contains("result") && line["result"].is_object()) {
        for (const char* key : {"tree", "part"}) {
            auto& result = line["result"];
            if (result.contains(key) && result[key].is_string() &&
                !result[key].get<std::string>().empty()) {
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
    std::vector<std::string> arguments(argv + 1, argv + argc);
    std::string pictures;
    if (arguments.size() == 4 && arguments[0] == "--pictures") {
        pictures = arguments[1];
        arguments.erase(arguments.begin(), arguments.begin() + 2);
    }
    if (arguments.size() != 2) {
        std::cerr << "usage: pelko-converse [--pictures <folder>] <program> <conversation>\n";
        return 2;
    }
    std::ifstream script(arguments[1]);
    if (!script) {
        std::cerr << "pelko-converse: cannot read " << arguments[1] << "\n";
        return 1;
    }
    ChildProcess program({arguments[0]});
    const auto timeout = std::chrono::seconds(30);
    if (auto ready = program.readLine(timeout)) {
        if (auto value = pelko::parseJSON(*ready)) printIncoming(*value, pictures);
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
            printIncoming(*value, pictures);
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

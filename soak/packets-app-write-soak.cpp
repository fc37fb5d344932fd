// pelko-packets --app-write against a racing writer and a racing symbolic-link swap, run after
// run on a real app directory.
//
//   packets-app-write-soak [--seconds 60] [--seed N]
//
// Each run takes one of these shapes:
//   clean        nothing races: the replacement must succeed;
//   held-write   the tool is held while it reads the new content (its temporary file exists),
//                another process writes into the file, then the input ends: it must fail;
//   held-swap    the same, but the file's name is swapped for a symbolic link to a file outside
//                the app directory: it must fail, and the link and that file stay as they were;
//   held-rename  the same, but another file is renamed over the name: it must fail;
//   loose        the whole input at once, a writer or a swap at a random moment: any outcome,
//                but never a file outside changed, never content that nobody wrote.
// After every run no temporary file may be left. Prints the runs and their outcomes, and ends
// with status 1 on any fault.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <thread>

#include "child-process.h"
#include "soak-support.h"

namespace {

using namespace pelko;
using namespace pelko::soak;
namespace fs = std::filesystem;

const char* const shapes[] = {"clean", "held-write", "held-swap", "held-rename", "loose"};

std::string bigEndian(uint32_t n) {
    return {static_cast<char>(n >> 24), static_cast<char>(n >> 16), static_cast<char>(n >> 8),
            static_cast<char>(n)};
}

bool writeAll(int fd, const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

std::string leftovers(const fs::path& folder) {
    std::string names;
    for (const auto& entry : fs::directory_iterator(folder))
        if (entry.path().filename().string().starts_with(".pelko-edit-"))
            names += entry.path().filename().string() + " ";
    return names;
}

// Waits until the tool has made its temporary file: it then reads the new content.
bool waitForTemporary(const fs::path& folder) {
    for (int i = 0; i < 2000; ++i) {
        if (!leftovers(folder).empty()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
}

// The racing writer: another process's in-place write (a whole new content of the same file).
void writeInPlace(const fs::path& file, const std::string& content) {
    const int fd = ::open(file.c_str(), O_WRONLY | O_TRUNC | O_NOFOLLOW | O_CLOEXEC);
    if (fd >= 0) {
        writeAll(fd, content);
        ::close(fd);
    }
}

}  // namespace

int main(int argc, char** argv) {
    const Options options(argc, argv, {});
    auto random = randomSource(options);
    Faults faults;
    pelko::testing::ScopedTempDir root;
    const fs::path app = root / "app", outside = root / "outside", notes = app / "notes";
    fs::create_directories(app);
    const std::string outsideContent = "a file of someone else";
    std::ofstream(outside) << outsideContent;
    const std::string errorPath = (root / "stderr").string();
    const std::string uid = std::to_string(::getuid());
    std::printf("packets app-write soak: seed %.0f, %.0f s\n", options["seed"], options["seconds"]);

    std::map<std::string, long> outcomes;
    long runs = 0;
    const auto start = SteadyClock::now();
    while (SteadyClock::now() - start < options.seconds()) {
        const std::string shape = shapes[pick(random, 0, std::size(shapes) - 1)];
        // A fresh regular file of random content.
        fs::remove(notes);
        const std::string current(pick(random, 0, 20000), static_cast<char>('a' + runs % 26));
        std::ofstream(notes, std::ios::binary) << current;
        const std::string replacement(pick(random, 0, 200000), 'n');
        const std::string racer = "written by another process " + std::to_string(runs);
        const std::string head = bigEndian(static_cast<uint32_t>(current.size())) + current;

        Spawned tool({PELKO_PACKETS, "--app-write", app.string(), uid, "notes"}, {}, errorPath);
        const bool held = shape.starts_with("held-");
        if (shape == "clean") {
            writeAll(tool.input(), head + replacement);
            tool.closeInput();
        } else if (held) {
            // The expected content and half the new content; the tool then waits for the rest.
            writeAll(tool.input(), head + replacement.substr(0, replacement.size() / 2));
            if (!waitForTemporary(app)) {
                faults.add("the tool made no temporary file", shape);
                continue;
            }
            if (shape == "held-write") {
                writeInPlace(notes, racer);
            } else if (shape == "held-swap") {
                fs::remove(notes);
                fs::create_symlink(outside, notes);
            } else {
                std::ofstream(app / "other", std::ios::binary) << racer;
                fs::rename(app / "other", notes);
            }
            writeAll(tool.input(), replacement.substr(replacement.size() / 2));
            tool.closeInput();
        } else {
            writeAll(tool.input(), head + replacement);
            tool.closeInput();
            std::this_thread::sleep_for(std::chrono::microseconds(pick(random, 0, 3000)));
            if (chance(random, 0.5)) {
                writeInPlace(notes, racer);
            } else {
                std::error_code error;
                fs::remove(notes, error);
                fs::create_symlink(outside, notes, error);
            }
        }
        const auto status = tool.wait(std::chrono::seconds(20));
        ++runs;
        std::string out;
        {
            char chunk[256];
            for (ssize_t n; (n = ::read(tool.output(), chunk, sizeof chunk)) > 0;)
                out.append(chunk, static_cast<size_t>(n));
        }
        const std::string error = pelko::testing::readFile(errorPath);
        const std::string detail =
            shape + ", status " + (status ? std::to_string(*status) : "none") + ", " + error;
        ++outcomes[shape + ": " + (status == 0 ? "replaced" : "refused")];

        if (!status) {
            faults.add("no exit within 20 s", detail);
            continue;
        }
        if (const std::string left = leftovers(app); !left.empty())
            faults.add("a temporary file was left behind", left + " " + detail);
        if (pelko::testing::readFile(outside) != outsideContent)
            faults.add("the file outside the app changed", detail);
        const bool isLink = fs::is_symlink(notes);
        const std::string now = isLink ? "" : pelko::testing::readFile(notes);
        if (shape == "clean" && (*status != 0 || now != replacement))
            faults.add("a clean replacement failed", detail);
        if (held && *status == 0) faults.add("a replacement over a file that changed", detail);
        if (held && *status != 0 &&
            error != "App file changed, input exceeded its limit, or atomic replacement failed\n")
            faults.add("a refusal with another message", detail);
        if (shape == "held-swap" && !isLink) faults.add("the swapped-in link was replaced", detail);
        if (!isLink && now != current && now != replacement && now != racer)
            faults.add("content that nobody wrote", detail);
        if (*status == 0 && out != "App file replaced atomically\n")
            faults.add("a success without its line", detail);
    }

    std::printf("figures:\n");
    figure("runs", runs);
    figure("seconds", secondsSince(start), "%.1f");
    for (const auto& [outcome, count] : outcomes) figure("  " + outcome, count);
    return faults.report();
}

// `pelko-packets --app-write`: the framed standard input (4-byte big-endian length, the
// expected content, the new content) and the relative path, against a real app directory.
//
// The tool is one source file with its own `main`; it is compiled into this target under
// another name, and its app-file command runs in this process with standard input, output and
// error moved onto memory files for the call. The app directory lives in /dev/shm when there is
// one, so that the tool's flushes to storage cost nothing.
//
// What must hold: the command succeeds exactly when the path names the file, the expected
// content is the file's and the new content is at most 1 MiB; after a success the file holds
// the new content, its mode is kept and the success line was written; after a failure the file
// and everything around it are untouched; no temporary file is ever left behind; the file
// outside the app directory, reachable only through a symbolic link, never changes.
#include <fuzzer/FuzzedDataProvider.h>
#include <sys/mman.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "fuzz-support.h"

#define main packetsMain
#include "phone-packets.cpp"
#undef main

namespace {

namespace fs = std::filesystem;
using pelko::packets::AppCommand;
using pelko::packets::runAppCommand;

[[noreturn]] void fault(const std::string& what, const std::string& detail) {
    pelko::fuzzing::fault("app-write", what, detail);
}

std::string readWhole(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void writeWhole(const fs::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc).write(bytes.data(), bytes.size());
}

// An app directory with the file "notes", a folder "sub" and two symbolic links, next to a file
// outside it; made once per process.
struct Place {
    fs::path root;
    fs::path app;
    fs::path outside;
    Place() {
        const fs::path base = fs::exists("/dev/shm") ? "/dev/shm" : fs::temp_directory_path();
        std::string pattern = (base / "pelko-app-write-XXXXXX").string();
        root = mkdtemp(pattern.data());
        app = root / "app";
        fs::create_directories(app / "sub");
        outside = root / "outside";
        writeWhole(outside, "not the app's");
        fs::create_symlink(root, app / "up");
        fs::create_symlink(app / "notes", app / "alias");
    }
    ~Place() { fs::remove_all(root); }
};

// A memory file holding `bytes`, read from its start.
int memoryFile(const std::string& bytes) {
    const int fd = memfd_create("pelko-app-write", MFD_CLOEXEC);
    if (fd < 0 || (!bytes.empty() &&
                   ::write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())))
        fault("no memory file", strerror(errno));
    lseek(fd, 0, SEEK_SET);
    return fd;
}

std::string contentOf(int fd) {
    std::string bytes;
    char chunk[4096];
    lseek(fd, 0, SEEK_SET);
    for (ssize_t n; (n = ::read(fd, chunk, sizeof chunk)) > 0;) bytes.append(chunk, n);
    return bytes;
}

// Runs `--app-write app uid path` with `input` as standard input; the status, what went to
// standard output and what went to standard error.
struct Run {
    int status;
    std::string out;
    std::string err;
};
Run appWrite(const fs::path& app, std::string path, const std::string& input) {
    const int in = memoryFile(input), out = memoryFile(""), err = memoryFile("");
    const int saved[3] = {dup(0), dup(1), dup(2)};
    dup2(in, 0);
    dup2(out, 1);
    dup2(err, 2);
    std::string directory = app.string(), uid = std::to_string(getuid());
    char command[] = "--app-write";
    char program[] = "pelko-packets";
    char* argv[] = {program, command, directory.data(), uid.data(), path.data(), nullptr};
    const int status = runAppCommand(AppCommand::write, argv);
    for (int fd = 0; fd < 3; ++fd) {
        dup2(saved[fd], fd);
        close(saved[fd]);
    }
    Run run{status, contentOf(out), contentOf(err)};
    close(in);
    close(out);
    close(err);
    return run;
}

std::string bigEndian(uint32_t n) {
    return {static_cast<char>(n >> 24), static_cast<char>(n >> 16), static_cast<char>(n >> 8),
            static_cast<char>(n)};
}

std::string leftovers(const fs::path& folder) {
    std::string names;
    for (const auto& entry : fs::recursive_directory_iterator(folder))
        if (entry.path().filename().string().starts_with(".pelko-edit-"))
            names += entry.path().string() + " ";
    return names;
}

const char* const paths[] = {"notes", "./notes",    "sub/../notes", "sub//../notes",
                             "alias", "up/outside", "sub",          "missing",
                             "",      "notes/",     "/notes"};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Place place;
    FuzzedDataProvider in(data, size);

    // The file as it is before the command.
    std::string current = in.ConsumeRandomLengthString(5000);
    if (in.ConsumeBool()) current = std::string(in.ConsumeIntegralInRange<size_t>(0, 70000), 'x');
    const fs::path notes = place.app / "notes";
    fs::remove(notes);
    writeWhole(notes, current);
    const auto mode = static_cast<fs::perms>(in.ConsumeIntegralInRange(0400, 0777));
    fs::permissions(notes, mode);

    // The path: one that names the file, or any other.
    const bool anyPath = in.ConsumeProbability<float>() < 0.2f;
    const std::string path =
        anyPath ? in.ConsumeRandomLengthString(60)
                : paths[in.ConsumeIntegralInRange<size_t>(0, std::size(paths) - 1)];

    // Standard input: well formed with the right or a wrong expectation, or any bytes.
    std::string input, expected = current, replacement;
    const int shape = in.ConsumeIntegralInRange(0, 3);
    if (shape == 3) {
        input = in.ConsumeRemainingBytesAsString();
    } else {
        if (shape == 1 && !expected.empty())
            expected[in.ConsumeIntegralInRange<size_t>(0, expected.size() - 1)] ^= 1;
        if (shape == 2) expected += in.ConsumeRandomLengthString(3);
        replacement = in.ConsumeRandomLengthString(5000);
        if (in.ConsumeBool()) {
            // Around the 1 MiB limit.
            const size_t around = 1048576 + in.ConsumeIntegralInRange<int>(-2, 2);
            replacement.resize(around, 'n');
        }
        input = bigEndian(static_cast<uint32_t>(expected.size())) + expected + replacement;
    }

    const auto before = fs::status(notes).permissions();
    const std::string outsideBefore = readWhole(place.outside);
    const Run run = appWrite(place.app, path, input);

    const std::string now = readWhole(notes);
    const std::string detail = "path \"" + path + "\", shape " + std::to_string(shape) +
                               ", status " + std::to_string(run.status) + ", stderr " + run.err;
    if (const std::string left = leftovers(place.root); !left.empty())
        fault("a temporary file was left behind: " + left, detail);
    if (readWhole(place.outside) != outsideBefore) fault("a file outside the app changed", detail);
    if (fs::status(notes).permissions() != before) fault("the file's mode changed", detail);
    const bool namesNotes =
        path == "notes" || path == "./notes" || (anyPath && fs::path(path) == "notes");
    if (run.status == 0) {
        if (run.out != "App file replaced atomically\n")
            fault("a success without its line", detail);
        // Whatever the input was, it was a whole frame whose expectation held.
        if (input.size() < 4) fault("a success on a short input", detail);
        const auto* bytes = reinterpret_cast<const unsigned char*>(input.data());
        const size_t length = size_t{bytes[0]} << 24 | size_t{bytes[1]} << 16 |
                              size_t{bytes[2]} << 8 | size_t{bytes[3]};
        if (input.size() < 4 + length || input.compare(4, length, current) != 0)
            fault("a success against another expected content", detail);
        if (now != input.substr(4 + length))
            fault("the file does not hold the new content", detail);
    } else {
        if (now != current) fault("a failure changed the file", detail);
        if (!run.out.empty()) fault("a failure wrote to standard output", detail);
        if (shape == 0 && namesNotes && replacement.size() <= 1048576)
            fault("a well-formed request on the file failed", detail);
    }
    return 0;
}

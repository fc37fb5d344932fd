// `pelko-packets --process`: the stat and status files of /proc, whose command name is chosen
// by the process itself and may hold spaces, parentheses and line breaks.
//
// The tool is one source file with its own `main`; it is compiled into this target under
// another name, and its readers run on memory files named through /proc/self/fd.
//
// The first byte picks the shape. Raw bytes: the readers must not crash or read past the file.
// A generated stat line (a command name of any bytes, then fields 3 to 52 of digits and the
// state letter): the start time read must be field 22, whatever the name holds. A generated
// status file: the real UID read must be the first number of the first "Uid:" line.
#include <fuzzer/FuzzedDataProvider.h>
#include <sys/mman.h>

#include <string>

#include "fuzz-support.h"

#define main packetsMain
#include "phone-packets.cpp"
#undef main

namespace {

[[noreturn]] void fault(const std::string& what, const std::string& detail) {
    pelko::fuzzing::fault("proc-stat", what, detail);
}

// A memory file holding `bytes`, and its name under /proc/self/fd.
struct MemoryFile {
    int fd;
    std::string path;
    explicit MemoryFile(const std::string& bytes) : fd(memfd_create("proc", MFD_CLOEXEC)) {
        if (fd < 0 || (!bytes.empty() && ::write(fd, bytes.data(), bytes.size()) !=
                                             static_cast<ssize_t>(bytes.size())))
            fault("no memory file", strerror(errno));
        path = "/proc/self/fd/" + std::to_string(fd);
    }
    ~MemoryFile() { close(fd); }
};

void generatedStat(FuzzedDataProvider& in) {
    // The kernel keeps a command name of up to 15 bytes, any but NUL; longer ones here too.
    std::string name = in.ConsumeRandomLengthString(40);
    name.erase(std::remove(name.begin(), name.end(), '\0'), name.end());
    const unsigned long long start = in.ConsumeIntegral<unsigned long long>();
    std::string line = std::to_string(in.ConsumeIntegralInRange(1, 4194304)) + " (" + name + ") ";
    line += "RSDZTtXxKWP"[in.ConsumeIntegralInRange(0, 10)];
    for (int field = 4; field <= 52; ++field)
        line += " " + (field == 22 ? std::to_string(start)
                                   : std::to_string(in.ConsumeIntegral<uint32_t>()));
    line += "\n";
    MemoryFile file(line);
    unsigned long long read = 0;
    if (!pelko::packets::readStartTime(file.path.c_str(), read))
        fault("a well-formed stat line was refused", line);
    if (read != start) fault("the start time is not field 22", line);
}

void generatedStatus(FuzzedDataProvider& in) {
    std::string text;
    const unsigned long uid = in.ConsumeIntegral<uint32_t>();
    for (int lines = in.ConsumeIntegralInRange(0, 30); lines > 0; --lines) {
        std::string line = in.ConsumeRandomLengthString(200);
        line.erase(std::remove(line.begin(), line.end(), '\n'), line.end());
        line.erase(std::remove(line.begin(), line.end(), '\0'), line.end());
        if (line.starts_with("Uid:")) line[0] = 'u';
        text += line + "\n";
    }
    text += "Uid:\t" + std::to_string(uid) + "\t" + std::to_string(uid) + "\t0\t0\n";
    text += "Uid:\t1\t1\t1\t1\n";
    MemoryFile file(text);
    unsigned long read = 0;
    if (!pelko::packets::readRealUid(file.path.c_str(), read))
        fault("a status file with a Uid line was refused", text);
    if (read != uid) fault("the real UID is not the first number of the Uid line", text);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    FuzzedDataProvider in(data + 1, size - 1);
    switch (data[0] % 3) {
        case 0: {
            MemoryFile file(in.ConsumeRemainingBytesAsString());
            unsigned long long start = 0;
            unsigned long uid = 0;
            (void)pelko::packets::readStartTime(file.path.c_str(), start);
            (void)pelko::packets::readRealUid(file.path.c_str(), uid);
            break;
        }
        case 1:
            generatedStat(in);
            break;
        default:
            generatedStatus(in);
            break;
    }
    return 0;
}

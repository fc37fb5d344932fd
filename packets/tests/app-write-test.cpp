// The atomic replacement of an app file: the framed input, its limits, the checks against a
// concurrent change, and what the new file keeps of the old one.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <functional>

#include "tool-run.h"

namespace pelko::packets::testing {
namespace {

namespace fs = std::filesystem;
using pelko::testing::readFile;
using pelko::testing::writeFile;

const std::string replaced = "App file replaced atomically\n";
const std::string changedSinceInspection = "App file changed since inspection\n";
const std::string replacementFailed =
    "App file changed, input exceeded its limit, or atomic replacement failed\n";
constexpr size_t mebibyte = 1048576;

/// The input of --app-write: N as 4 big-endian bytes, the expected content, the new content.
std::string frame(std::string_view expected, std::string_view replacement,
                  size_t declared = SIZE_MAX) {
    const uint32_t n = static_cast<uint32_t>(declared == SIZE_MAX ? expected.size() : declared);
    std::string input{static_cast<char>(n >> 24), static_cast<char>(n >> 16),
                      static_cast<char>(n >> 8), static_cast<char>(n)};
    return input.append(expected).append(replacement);
}

class AppWrite : public ::testing::Test {
  protected:
    AppWrite() { EXPECT_EQ(chown(app().c_str(), 10123, 10123), 0); }
    ToolRun write(const std::string& path, std::string_view input) {
        return runTool({"--app-write", app(), "10123", path}, input);
    }
    std::string app() const { return temp_.path().string(); }
    fs::path operator/(std::string_view name) const { return temp_ / name; }
    /// Names in the app directory that start like a temporary file of the tool.
    int temporaryFiles() const {
        int count = 0;
        for (const auto& entry : fs::directory_iterator(temp_.path()))
            count += entry.path().filename().string().starts_with(".pelko-edit-");
        return count;
    }

    /// Runs --app-write whose new content arrives in two parts, and calls `meddle` in
    /// between, once the tool has made its temporary file (so it has inspected the target).
    ToolRun writeWithMeddling(const std::string& path, const std::string& expected,
                              const std::function<void()>& meddle) {
        ChildProcess child({toolPath(), "--app-write", app(), "10123", path});
        EXPECT_TRUE(child.write(frame(expected, "first half, ")));
        for (int attempt = 0; attempt < 1000 && temporaryFiles() == 0; ++attempt) usleep(10000);
        EXPECT_EQ(temporaryFiles(), 1);
        meddle();
        child.write("second half");
        child.closeStdin();
        ToolRun run;
        run.out = child.readToEnd();
        run.status = child.waitExit().value_or(ExitStatus{});
        run.err = child.stderrText();
        return run;
    }

  private:
    ScopedTempDir temp_;
};

struct stat statOf(const fs::path& path) {
    struct stat info {};
    EXPECT_EQ(lstat(path.c_str(), &info), 0) << path;
    return info;
}

TEST_F(AppWrite, ReplacesKeepingOwnerGroupAndPermissionBits) {
    fs::create_directory(*this / "shared_prefs");
    const fs::path target = *this / "shared_prefs/prefs.xml";
    writeFile(target, "<old/>");
    ASSERT_EQ(chown(target.c_str(), 10123, 20456), 0);
    ASSERT_EQ(chmod(target.c_str(), 04640), 0);
    const struct stat before = statOf(target);

    ToolRun run = write("shared_prefs//./prefs.xml", frame("<old/>", "<new value=\"1\"/>\n"));
    EXPECT_EQ(run.status, exitedWith(0));
    EXPECT_EQ(run.out, replaced);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(readFile(target), "<new value=\"1\"/>\n");
    const struct stat after = statOf(target);
    EXPECT_NE(after.st_ino, before.st_ino);
    EXPECT_EQ(after.st_uid, 10123u);
    EXPECT_EQ(after.st_gid, 20456u);
    EXPECT_EQ(after.st_mode & 07777, 0640u);  // the nine permission bits, no set-id bit
    EXPECT_EQ(temporaryFiles(), 0);
}

TEST_F(AppWrite, EmptyContentOnEitherSide) {
    writeFile(*this / "empty", "");
    EXPECT_EQ(write("empty", frame("", "filled")).out, replaced);
    EXPECT_EQ(readFile(*this / "empty"), "filled");
    EXPECT_EQ(write("empty", frame("filled", "")).out, replaced);
    EXPECT_EQ(fs::file_size(*this / "empty"), 0u);
}

TEST_F(AppWrite, ExpectedContentMustMatchByteForByte) {
    const std::string content = std::string(5000, 'a') + "tail";
    writeFile(*this / "file", content);
    std::string oneByteOff = content;
    oneByteOff[4100] = 'b';  // in the second compared chunk
    for (const std::string& input :
         {frame(oneByteOff, "new"), frame(content, "new", content.size() - 1),
          frame(content, "new", content.size() + 1), frame("", "new")}) {
        ToolRun run = write("file", input);
        EXPECT_EQ(run.status, exitedWith(1));
        EXPECT_EQ(run.err, changedSinceInspection);
        EXPECT_EQ(run.out, "");
    }
    EXPECT_EQ(readFile(*this / "file"), content);
    EXPECT_EQ(temporaryFiles(), 0);
}

TEST_F(AppWrite, InputThatEndsTooEarlyFailsSilently) {
    writeFile(*this / "file", "content");
    for (const std::string& input : {std::string("\0\0", 2), frame("content", "").substr(0, 8)}) {
        ToolRun run = write("file", input);
        EXPECT_EQ(run.status, exitedWith(1));
        EXPECT_EQ(run.err, "");
    }
    EXPECT_EQ(readFile(*this / "file"), "content");
}

TEST_F(AppWrite, LimitsOfOneMebibyte) {
    const std::string big(mebibyte, 'e');
    writeFile(*this / "big", big);
    EXPECT_EQ(write("big", frame(big, std::string(mebibyte, 'n'))).out, replaced);
    EXPECT_EQ(readFile(*this / "big"), std::string(mebibyte, 'n'));

    ToolRun over = write("big", frame(std::string(mebibyte, 'n'), std::string(mebibyte + 1, 'o')));
    EXPECT_EQ(over.status, exitedWith(1));
    EXPECT_EQ(over.err, replacementFailed);
    EXPECT_EQ(readFile(*this / "big"), std::string(mebibyte, 'n'));
    EXPECT_EQ(temporaryFiles(), 0);

    // An expected length above the limit is refused before anything is compared.
    writeFile(*this / "larger", std::string(mebibyte + 1, 'l'));
    ToolRun tooLong = write("larger", frame(std::string(mebibyte + 1, 'l'), "x"));
    EXPECT_EQ(tooLong.err, changedSinceInspection);
    EXPECT_EQ(fs::file_size(*this / "larger"), mebibyte + 1);
}

TEST_F(AppWrite, OnlyAnExistingRegularFileIsReplaced) {
    writeFile(*this / "real", "x");
    fs::create_symlink("real", *this / "link");
    fs::create_directory(*this / "folder");
    for (const char* path : {"missing", "link", "folder"}) {
        ToolRun run = write(path, frame("x", "y"));
        EXPECT_EQ(run.status, exitedWith(1)) << path;
        EXPECT_EQ(run.err, "Existing regular app file required\n") << path;
    }
    EXPECT_EQ(readFile(*this / "real"), "x");
    EXPECT_TRUE(fs::is_symlink(*this / "link"));
    EXPECT_EQ(write("../real", frame("x", "y")).status, exitedWith(2));
    EXPECT_EQ(write(".", frame("x", "y")).status, exitedWith(2));
}

TEST_F(AppWrite, AFileChangedMeanwhileIsNotReplaced) {
    const fs::path target = *this / "file";
    writeFile(target, "seen");
    ToolRun appended =
        writeWithMeddling("file", "seen", [&] { writeFile(target, "seen, then changed"); });
    EXPECT_EQ(appended.status, exitedWith(1));
    EXPECT_EQ(appended.err, replacementFailed);
    EXPECT_EQ(readFile(target), "seen, then changed");
    EXPECT_EQ(temporaryFiles(), 0);

    // Same size and content, but another file under the name.
    writeFile(target, "seen");
    ToolRun swapped = writeWithMeddling("file", "seen", [&] {
        writeFile(*this / "other", "seen");
        fs::rename(*this / "other", target);
    });
    EXPECT_EQ(swapped.status, exitedWith(1));
    EXPECT_EQ(swapped.err, replacementFailed);
    EXPECT_EQ(readFile(target), "seen");
    EXPECT_EQ(temporaryFiles(), 0);
}

TEST_F(AppWrite, TemporaryFileIsGoneBeforeTheFailureIsReported) {
    // The host may look at the folder as soon as it reads the message.
    writeFile(*this / "file", "old");
    ChildOptions options;
    options.environment = {{"LD_PRELOAD", shimPath()}, {"PELKO_SHIM_COUNT_TEMPORARIES", app()}};
    ChildProcess tool({toolPath(), "--app-write", app(), "10123", "file"}, options);
    tool.write(frame("old", std::string(mebibyte + 1, 'o')));  // false once it stops reading
    tool.closeStdin();
    EXPECT_EQ(tool.waitExit(), exitedWith(1));
    EXPECT_EQ(tool.stderrText(), "temporary files: 0\n" + replacementFailed);
    EXPECT_EQ(readFile(*this / "file"), "old");
    EXPECT_EQ(temporaryFiles(), 0);
}

/// Sets a security label; false (with the reason) where the kernel or file system refuses it.
bool setLabel(const fs::path& path, const std::string& label, std::string& reason) {
    if (setxattr(path.c_str(), "security.selinux", label.data(), label.size(), 0) == 0) return true;
    reason =
        std::string("this kernel refuses to set security.selinux here: ") + std::strerror(errno);
    return false;
}

TEST_F(AppWrite, SecurityLabelIsKept) {
    const fs::path target = *this / "labelled";
    writeFile(target, "old");
    const std::string label("u:object_r:app_data_file:s0:c512,c768", 38);  // with its final NUL
    std::string reason;
    if (!setLabel(target, label, reason)) GTEST_SKIP() << reason;

    EXPECT_EQ(write("labelled", frame("old", "new")).out, replaced);
    char kept[1024];
    ssize_t length = getxattr(target.c_str(), "security.selinux", kept, sizeof kept);
    ASSERT_GT(length, 0);
    EXPECT_EQ(std::string(kept, length), label);
}

TEST_F(AppWrite, UnreadableSecurityLabelFailsTheAttempt) {
    // A label longer than the 1024 bytes the tool reads cannot be kept.
    const fs::path target = *this / "labelled";
    writeFile(target, "old");
    std::string reason;
    if (!setLabel(target, std::string(2000, 'l'), reason)) GTEST_SKIP() << reason;

    ToolRun run = write("labelled", frame("old", "new"));
    EXPECT_EQ(run.status, exitedWith(1));
    EXPECT_EQ(run.err, replacementFailed);
    EXPECT_EQ(readFile(target), "old");
    EXPECT_EQ(temporaryFiles(), 0);
}

}  // namespace
}  // namespace pelko::packets::testing

// copy-png on a real X11 desktop (scripts/desktop-session): the clipboard read back by xclip,
// the way another application pastes, and the server's life from the outside.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>

#include "child-process.h"
#include "video-support.h"
#include "x11-desktop.h"

namespace pelko::phone {
namespace {

using pelko::testing::ChildOptions;
using pelko::testing::ChildProcess;
using pelko::testing::ExitStatus;
using pelko::testing::readFile;
using pelko::testing::ScopedTempDir;
using pelko::testing::waitUntil;
using pelko::testing::writeFile;

/// copy-png of `picture` onto the session's clipboard; its exit status and standard error.
std::pair<std::optional<ExitStatus>, std::string> copyPNG(const std::string& picture) {
    ChildOptions options;
    options.nullStdin = true;
    options.unset = {"PELKO_PHONE_PASTEBOARD"};
    ChildProcess phone({PELKO_PHONE_BINARY, "copy-png", picture}, options);
    phone.readToEnd(std::chrono::seconds(30));
    auto status = phone.waitExit(std::chrono::seconds(30));
    return {status, phone.stderrText()};
}

/// What xclip reads from the clipboard with `arguments`.
std::string xclip(std::vector<std::string> arguments) {
    std::vector<std::string> argv = {testing::onPath("xclip"), "-selection", "clipboard"};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    ChildOptions options;
    options.nullStdin = true;
    ChildProcess reader(argv, options);
    std::string bytes = reader.readToEnd(std::chrono::seconds(20));
    reader.waitExit(std::chrono::seconds(20));
    return bytes;
}

/// How many processes run with `argument` on their command line.
int processesWith(const std::string& argument) {
    int count = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        const std::string name = entry.path().filename();
        if (!std::all_of(name.begin(), name.end(), ::isdigit)) continue;
        std::string line = readFile(entry.path() / "cmdline");
        std::replace(line.begin(), line.end(), '\0', '\n');
        if (line.find("\n" + argument + "\n") != std::string::npos) ++count;
    }
    return count;
}

TEST(Clipboard, ServesTheBytesToEveryReaderUntilAnotherClientTakesIt) {
    if (std::string reason = pelko::testing::desktopUnavailableReason(); !reason.empty()) {
        GTEST_SKIP() << reason;
    }
    std::string messages;
    auto noise = testing::testPicture("noise.png", &messages);
    auto small = testing::testPicture("picture.png", &messages);
    ASSERT_TRUE(noise && small) << messages;
    // Copies of their own, so that the servers are told apart from other tests' processes.
    ScopedTempDir scratch;
    const std::string large = (scratch / "noise.png").string();
    const std::string picture = (scratch / "small.png").string();
    std::filesystem::copy_file(*noise, large);
    std::filesystem::copy_file(*small, picture);
    ASSERT_GT(std::filesystem::file_size(large), 256u * 1024) << "larger than one request";

    auto [status, error] = copyPNG(large);
    EXPECT_EQ(status, (ExitStatus{true, 0, 0})) << error;
    EXPECT_EQ(error, "");
    EXPECT_EQ(processesWith(large), 1) << "the command has ended, its server goes on";

    EXPECT_EQ(xclip({"-t", "TARGETS", "-o"}), "TARGETS\nTIMESTAMP\nimage/png\nimage/tiff\n");
    EXPECT_EQ(xclip({"-t", "image/png", "-o"}), readFile(large));
    EXPECT_EQ(xclip({"-t", "image/png", "-o"}), readFile(large)) << "served again";
    writeFile(scratch / "pasted.tiff", xclip({"-t", "image/tiff", "-o"}));
    auto pasted = testing::decodeWithFFmpeg(scratch / "pasted.tiff", scratch.path());
    auto original = testing::decodeWithFFmpeg(large, scratch.path());
    ASSERT_TRUE(pasted && original);
    EXPECT_EQ(pasted->rgb, original->rgb) << "the TIFF holds the same picture";

    // A second copy takes the clipboard: the first server leaves, the second serves.
    std::tie(status, error) = copyPNG(picture);
    EXPECT_EQ(status, (ExitStatus{true, 0, 0})) << error;
    EXPECT_EQ(xclip({"-t", "image/png", "-o"}), readFile(picture));
    EXPECT_TRUE(waitUntil([&] { return processesWith(large) == 0; }));

    // Another application copies text: the clipboard is its, and the server ends.
    ChildProcess text({testing::onPath("xclip"), "-selection", "clipboard", "-i"});
    text.write("some text");
    text.closeStdin();
    EXPECT_TRUE(waitUntil([&] { return processesWith(picture) == 0; }));
    EXPECT_EQ(xclip({"-o"}), "some text");
}

TEST(Clipboard, WithoutADisplayThePasteboardRefusesTheImage) {
    std::string messages;
    auto small = testing::testPicture("picture.png", &messages);
    ASSERT_TRUE(small) << messages;
    ChildOptions options;
    options.nullStdin = true;
    options.unset = {"PELKO_PHONE_PASTEBOARD", "DISPLAY"};
    ChildProcess phone({PELKO_PHONE_BINARY, "copy-png", small->string()}, options);
    EXPECT_EQ(phone.readToEnd(), "");
    EXPECT_EQ(phone.waitExit(), (ExitStatus{true, 1, 0}));
    EXPECT_EQ(phone.stderrText(), "pelko-phone: the pasteboard refused the image\n");
}

}  // namespace
}  // namespace pelko::phone

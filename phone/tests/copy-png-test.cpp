// copy-png through the real program on the pasteboard in a folder: what is stored, and every
// failure. The X11 clipboard is tested on a desktop of its own (clipboard-desktop-test.cpp).
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <map>

#include "copy-png-command.h"
#include "sim/file-pasteboard.h"
#include "test-support.h"
#include "video-support.h"

namespace pelko::phone {
namespace {

using pelko::testing::ChildOptions;
using pelko::testing::ChildProcess;
using pelko::testing::ExitStatus;
using pelko::testing::readFile;
using pelko::testing::ScopedTempDir;
using pelko::testing::writeFile;
using testing::decodeWithFFmpeg;
using testing::RGBPicture;
using testing::runFFmpeg;

struct PhoneRun {
    std::string output;
    std::string error;
    std::optional<ExitStatus> status;
};

PhoneRun copyPNG(const std::string& path, ChildOptions options) {
    options.nullStdin = true;
    ChildProcess phone({PELKO_PHONE_BINARY, "copy-png", path}, options);
    PhoneRun run;
    run.output = phone.readToEnd(std::chrono::seconds(30));
    run.status = phone.waitExit(std::chrono::seconds(30));
    run.error = phone.stderrText();
    return run;
}

/// The mean difference of the samples of two pictures of the same size.
double meanDifference(const RGBPicture& a, const RGBPicture& b) {
    if (a.width != b.width || a.height != b.height || a.rgb.empty()) return 255;
    double total = 0;
    for (std::size_t i = 0; i < a.rgb.size(); ++i) total += std::abs(a.rgb[i] - b.rgb[i]);
    return total / static_cast<double>(a.rgb.size());
}

/// The colour type in a PNG's header: 2 for RGB, 6 for RGB with alpha.
int pngColourType(const std::string& png) {
    return png.size() > 25 ? static_cast<unsigned char>(png[25]) : -1;
}

/// Pictures of each kind made once for all the tests.
class CopyPNG : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        folder = new ScopedTempDir;
        made = true;
        for (const char* name : {"picture.png", "picture.jpg", "picture.bmp", "picture.tiff",
                                 "picture.gif", "picture.webp", "glass.webp"}) {
            auto file = testing::testPicture(name, &messages);
            made = made && file.has_value();
            if (file) pictures[name] = *file;
        }
        writeFile(*folder / "notes.png", "these are notes\n");
        writeFile(*folder / "empty.png", "");
        writeFile(*folder / "fake.png", std::string("\x89PNG\r\n\x1a\n", 8) + "not a picture");
    }
    static void TearDownTestSuite() {
        delete folder;
        folder = nullptr;
    }
    void SetUp() override { ASSERT_TRUE(made) << messages; }

    /// A picture made for the tests, or a file of the test's folder.
    static std::string path(const char* name) {
        auto made = pictures.find(name);
        return made != pictures.end() ? made->second.string() : (*folder / name).string();
    }

    /// copy-png onto the folder pasteboard of this test.
    PhoneRun copyToFolder(const std::string& picture) {
        ChildOptions options;
        options.environment = {{"PELKO_PHONE_PASTEBOARD", pasteboard.string()}};
        options.workingDirectory = std::filesystem::path(path("picture.png")).parent_path();
        return copyPNG(picture, options);
    }

    static ScopedTempDir* folder;
    static std::map<std::string, std::filesystem::path> pictures;
    static bool made;
    static std::string messages;
    ScopedTempDir scratch;
    std::filesystem::path pasteboard = scratch / "pasteboard";
};

ScopedTempDir* CopyPNG::folder = nullptr;
std::map<std::string, std::filesystem::path> CopyPNG::pictures;
bool CopyPNG::made = false;
std::string CopyPNG::messages;

TEST_F(CopyPNG, APNGIsStoredUnchangedWithATIFFOfTheSamePicture) {
    const PhoneRun run = copyToFolder(path("picture.png"));
    EXPECT_EQ(run.status, (ExitStatus{true, 0, 0})) << run.error;
    EXPECT_EQ(run.output, "");
    EXPECT_EQ(run.error, "");
    EXPECT_EQ(readFile(pasteboard / "types"), "image/png\nimage/tiff\n");
    EXPECT_EQ(readFile(pasteboard / "image-png"), readFile(path("picture.png")));

    const std::string tiff = readFile(pasteboard / "image-tiff");
    ASSERT_GE(tiff.size(), 4u);
    EXPECT_TRUE(tiff.starts_with("II*") || tiff.starts_with("MM")) << "a TIFF file";
    auto fromTIFF = decodeWithFFmpeg(pasteboard / "image-tiff", scratch.path());
    auto original = decodeWithFFmpeg(path("picture.png"), scratch.path());
    ASSERT_TRUE(fromTIFF && original);
    EXPECT_EQ(fromTIFF->width, 320);
    EXPECT_EQ(fromTIFF->rgb, original->rgb) << "TIFF is lossless";
}

TEST_F(CopyPNG, OtherFormatsAreConvertedToPNG) {
    auto original = decodeWithFFmpeg(path("picture.png"), scratch.path());
    ASSERT_TRUE(original);
    struct Case {
        const char* name;
        double tolerance;  // mean difference allowed by the format's own losses
    };
    const Case cases[] = {{"picture.jpg", 8},
                          {"picture.bmp", 0},
                          {"picture.tiff", 0},
                          {"picture.gif", 30},
                          {"picture.webp", 8}};
    for (const Case& c : cases) {
        const PhoneRun run = copyToFolder(path(c.name));
        EXPECT_EQ(run.status, (ExitStatus{true, 0, 0})) << c.name << run.error;
        const std::string png = readFile(pasteboard / "image-png");
        EXPECT_TRUE(hasPNGSignature(std::vector<std::uint8_t>(png.begin(), png.end()))) << c.name;
        EXPECT_EQ(pngColourType(png), 2) << c.name << ": opaque pictures have no alpha";
        auto converted = decodeWithFFmpeg(pasteboard / "image-png", scratch.path());
        auto source = decodeWithFFmpeg(path(c.name), scratch.path());
        ASSERT_TRUE(converted && source) << c.name;
        EXPECT_EQ(converted->width, 320) << c.name;
        EXPECT_EQ(converted->height, 180) << c.name;
        // Close to the file's own pixels, and to the picture it was made from.
        EXPECT_LE(meanDifference(*converted, *source), 3.0) << c.name;
        EXPECT_LE(meanDifference(*converted, *original), c.tolerance + 3.0) << c.name;
    }

    const PhoneRun glass = copyToFolder(path("glass.webp"));
    EXPECT_EQ(glass.status, (ExitStatus{true, 0, 0})) << glass.error;
    EXPECT_EQ(pngColourType(readFile(pasteboard / "image-png")), 6) << "transparency kept";
}

TEST_F(CopyPNG, WhatIsNotAnAbsolutePathToAPictureIsRefused) {
    const std::string picture = path("picture.png");
    const std::string cases[] = {
        "picture.png",  // relative, although it exists in the working folder
        path("notes.png"),   path("empty.png"),       path("fake.png"),
        path("missing.png"), folder->path().string(),
    };
    for (const std::string& argument : cases) {
        const PhoneRun run = copyToFolder(argument);
        EXPECT_EQ(run.status, (ExitStatus{true, 1, 0})) << argument;
        EXPECT_EQ(run.output, "");
        EXPECT_EQ(run.error, "pelko-phone: cannot read an image at " + argument + "\n");
        EXPECT_FALSE(std::filesystem::exists(pasteboard)) << argument;
    }

    // A pasteboard that cannot be written.
    writeFile(scratch / "occupied", "a file where the folder should be");
    ChildOptions options;
    options.environment = {{"PELKO_PHONE_PASTEBOARD", (scratch / "occupied").string()}};
    const PhoneRun refused = copyPNG(picture, options);
    EXPECT_EQ(refused.status, (ExitStatus{true, 1, 0}));
    EXPECT_EQ(refused.error, "pelko-phone: the pasteboard refused the image\n");
}

/// Reads pictures and writes TIFF as the real codec does, but cannot make a PNG.
class NoPNGCodec final : public ImageCodec {
  public:
    std::optional<DecodedImage> decodeImage(const std::vector<std::uint8_t>& bytes) override {
        return real_.decodeImage(bytes);
    }
    std::optional<std::vector<std::uint8_t>> tiffRendition(const DecodedImage& image) override {
        return real_.tiffRendition(image);
    }
    std::optional<std::vector<std::uint8_t>> pngRendition(const DecodedImage&) override {
        return std::nullopt;
    }

  private:
    linux_backend::FFmpegImageCodec real_;
};

TEST_F(CopyPNG, APictureThatCannotBeMadeIntoAPNGIsReportedAndNothingIsCopied) {
    testing::TestPlatform test(JSON::object());
    NoPNGCodec codec;
    sim::FilePasteboard folderPasteboard(pasteboard);
    Platform platform{test.capture,
                      test.usb,
                      test.video,
                      codec,
                      folderPasteboard,
                      test.clock,
                      test.mainLoop,
                      -1,
                      test.output.writeEnd,
                      test.error.writeEnd,
                      [](int status) { throw testing::ProcessExit{status}; }};
    const std::string picture = path("picture.jpg");
    try {
        runCopyPNG(platform, picture);
        ADD_FAILURE() << "copy-png did not end";
    } catch (const testing::ProcessExit& exit) {
        EXPECT_EQ(exit.status, 1);
    }
    EXPECT_EQ(test.error.readAvailable(), "pelko-phone: cannot convert " + picture + " to PNG\n");
    EXPECT_EQ(test.output.readAvailable(), "");
    EXPECT_FALSE(std::filesystem::exists(pasteboard)) << "nothing copied";
}

TEST(FilePasteboard, ReplacingForgetsTheTypesDeclaredBefore) {
    ScopedTempDir folder;
    sim::FilePasteboard pasteboard(folder / "board");
    ASSERT_TRUE(pasteboard.replaceContents({{"text/plain", {'h', 'i'}}, {"a/b", {1}}}));
    EXPECT_EQ(readFile(folder / "board" / "types"), "text/plain\na/b\n");
    EXPECT_EQ(readFile(folder / "board" / "text-plain"), "hi");
    ASSERT_TRUE(pasteboard.replaceContents({{"image/png", {7, 8}}}));
    EXPECT_EQ(readFile(folder / "board" / "types"), "image/png\n");
    EXPECT_FALSE(std::filesystem::exists(folder / "board" / "text-plain"));
    EXPECT_FALSE(std::filesystem::exists(folder / "board" / "a-b"));
    EXPECT_FALSE(pasteboard.replaceContents({{"..", {1}}})) << "a type that names no file";
}

}  // namespace
}  // namespace pelko::phone

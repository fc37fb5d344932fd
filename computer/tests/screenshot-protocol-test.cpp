// The screenshot method through the program's standard streams, on the sample desktop: the
// capture answers on another thread, as it would on the platform.
#include <gtest/gtest.h>

#include "computer-process.h"
#include "decoded-picture.h"

namespace pelko::computer::testing {
namespace {

JSON request(int id, JSON params) {
    return {{"id", id}, {"method", "screenshot"}, {"params", std::move(params)}};
}

TEST(ScreenshotProtocol, PicturesOfTheSampleDesktopAndItsRefusals) {
    ComputerProcess computer(ComputerProcess::sampleScene());
    computer.nextLine();  // ready

    JSON notes = computer.request(request(1, {{"app", "Notes"}}));
    ASSERT_TRUE(notes.contains("result")) << notes.dump();
    const DecodedPicture picture = decodePicture(notes["result"]["data"]);
    notes["result"].erase("data");
    EXPECT_EQ(notes, JSON::parse(R"({"id": 1, "result": {"mimeType": "image/jpeg",
        "width": 900, "height": 640, "scale": 1,
        "window": {"x": 100, "y": 60, "width": 900, "height": 640}}})"));
    ASSERT_TRUE(picture.valid());
    EXPECT_EQ(std::tuple(picture.width, picture.height), std::tuple(900, 640));
    // The notes list's first row is selected: tinted with the accent colour.
    const auto row = picture.at(20, 66);
    EXPECT_NEAR(row[0], 199, 30);
    EXPECT_NEAR(row[1], 226, 30);
    EXPECT_NEAR(row[2], 255, 30);

    // Once its page is built, the browser's window, half size.
    computer.request({{"id", 2}, {"method", "state"}, {"params", {{"app", "Browser"}}}});
    const JSON browser = computer.request(request(3, {{"app", "Browser"}, {"maxWidth", 720}}));
    EXPECT_EQ(browser["result"]["width"], 720);
    EXPECT_EQ(browser["result"]["height"], 437);
    EXPECT_EQ(browser["result"]["scale"], 0.5);
    EXPECT_EQ(decodePicture(browser["result"]["data"]).width, 720);

    EXPECT_EQ(computer.request(request(4, {{"app", "Settings"}})),
              JSON::parse(R"({"id": 4, "code": "no-window", "error":
                "Settings has no window on screen to picture (it may be minimized or on another desktop)."})"))
        << "Settings is hidden";
    EXPECT_EQ(computer.request(request(5, {{"app", "Maps"}}))["code"], "not-running");
    EXPECT_EQ(computer.request(request(6, {{"maxWidth", 100}})),
              JSON::parse(R"({"id": 6, "code": "bad-input", "error": "Give the app's name."})"));

    std::vector<JSON> captures;
    for (auto call : computer.calls()) {
        if (call["call"] == "captureWindow") captures.push_back(call);
        EXPECT_NE(call["call"], "openApplication") << "a picture never opens an app";
    }
    EXPECT_EQ(captures, JSON::parse(R"([
        {"call": "captureWindow", "window": "notes.window", "width": 900, "height": 640},
        {"call": "captureWindow", "window": "browser.window", "width": 720, "height": 437}])"));
}

TEST(ScreenshotProtocol, WithoutScreenCaptureTheScreenIsNotRead) {
    JSON scene = ComputerProcess::sampleScene();
    scene["screenCapture"] = false;
    ComputerProcess computer(scene);
    EXPECT_EQ(computer.nextLine()["screenRecording"], false);
    EXPECT_EQ(computer.request(request(1, {{"app", "Notes"}})),
              JSON::parse(R"({"id": 1, "code": "screen", "error":
                "Pelko may not take pictures of the screen yet (System Settings → Privacy & Security → Screen & System Audio Recording)."})"));
    for (const auto& call : computer.calls()) EXPECT_NE(call["call"], "shareableContent");
}

}  // namespace
}  // namespace pelko::computer::testing

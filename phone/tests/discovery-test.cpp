// Discovery of phone screens, camera-only phones and wired iPhones, and the `list` and
// `request-permission` commands, on simulated devices in virtual time.
#include "discovery.h"

#include <gtest/gtest.h>

#include <thread>

#include "child-process.h"
#include "linux/sysfs-usb.h"
#include "test-support.h"

namespace pelko::phone {
namespace {

using testing::ProcessExit;
using testing::TestPlatform;

JSON screen(const std::string& id, double appearAfter = 0) {
    return {{"uniqueId", id},
            {"name", id + "'s iPhone"},
            {"mediaTypes", {"muxed"}},
            {"appearAfter", appearAfter}};
}

JSON cameraOnly(const std::string& id, const std::string& name) {
    return {{"uniqueId", id},
            {"name", name},
            {"model", "iPhone15,2"},
            {"type", "continuityCamera"},
            {"mediaTypes", {"video"}}};
}

/// Runs `list` and returns its JSON line; the exit status must be 0.
JSON runListOn(TestPlatform& test) {
    try {
        runList(test.platform);
        ADD_FAILURE() << "list did not exit";
    } catch (const ProcessExit& exit) {
        EXPECT_EQ(exit.status, 0);
    }
    const std::string line = test.output.readAvailable();
    EXPECT_TRUE(line.ends_with("}\n")) << line;
    return parseJSON(line).value_or(JSON());
}

TEST(Discovery, OnlyApplePhoneScreensCount) {
    JSON otherMaker = screen("B");
    otherMaker["manufacturer"] = "Elgato";
    JSON otherModel = screen("C");
    otherModel["model"] = "Capture Card";
    JSON notMuxed = screen("D");
    notMuxed["mediaTypes"] = {"video"};
    TestPlatform test(JSON{{"devices",
                            {screen("A"), otherMaker, otherModel, notMuxed, screen("E"),
                             cameraOnly("F", "F Camera")}}});
    std::vector<std::string> ids;
    for (const auto& device : phoneScreens(test.capture)) ids.push_back(device.uniqueId);
    EXPECT_EQ(ids, (std::vector<std::string>{"A", "E"}));

    ids.clear();
    for (const auto& device : phoneCamerasOnly(test.capture)) ids.push_back(device.uniqueId);
    EXPECT_EQ(ids, (std::vector<std::string>{"F"})) << "model must begin with iPhone";
}

TEST(Discovery, TheCameraSuffixIsRemovedByItsCharacterCount) {
    const std::pair<std::string, std::string> cases[] = {
        {"Anna's iPhone Camera", "Anna's iPhone"},
        {"Annas iPhone Kamera", "Annas iPhone"},
        {"iPhone de Anne Caméra", "iPhone de Anne"},
        {"iPhone de Ana Cámara", "iPhone de Ana"},
        {"iPhone de Ana Ca\u0301mara", "iPhone de Ana"},  // decomposed á: the same 7 characters
        {"iPhone Camera Kamera", "iPhone Camera"},        // only the first matching suffix
        {"Camera", "Camera"},                             // no leading space, no suffix
        {" Camera", ""},
        {"Anna's iPhone", "Anna's iPhone"},
    };
    for (const auto& [name, expected] : cases) {
        CaptureDeviceInfo device;
        device.localizedName = name;
        EXPECT_EQ(phoneNameOfCamera(device), expected) << name;
    }
}

TEST(List, ReturnsOnceTheSameScreensAreSeenThreeTimesInARow) {
    TestPlatform test(JSON{{"devices", {screen("B"), screen("A", 0.3)}}});
    JSON result = runListOn(test);
    // Polls at 0 and 0.25 see B; at 0.5 A has joined, and 0.75 and 1.0 see the same two.
    EXPECT_EQ(test.clock.pauses(), std::vector<Duration>(4, seconds(0.25)));
    EXPECT_EQ(result, JSON::parse(R"({"permission":"granted","devices":[
                 {"id":"B","name":"B's iPhone","model":"iOS Device"},
                 {"id":"A","name":"A's iPhone","model":"iOS Device"}]})"));
    EXPECT_EQ(test.capture.screenCaptureSwitches(), 1);
}

TEST(List, WithoutAScreenWaitsTheFullFiveSeconds) {
    TestPlatform test(JSON{{"permission", "notDetermined"}, {"allowScreenCaptureStatus", -50}});
    JSON result = runListOn(test);
    EXPECT_EQ(test.clock.pauses(), std::vector<Duration>(20, seconds(0.25)));
    EXPECT_EQ(result, JSON::parse(R"({"permission":"notDetermined","devices":[]})"));
    EXPECT_EQ(test.error.readAvailable(),
              "pelko-phone: allowing screen capture devices failed: status -50\n");
}

TEST(List, APhoneSeenOnlyAsACameraIsReportedWithItsName) {
    TestPlatform one(
        JSON{{"wiredIphones", {"S1"}}, {"devices", {cameraOnly("C", "Anna's iPhone Camera")}}});
    EXPECT_EQ(runListOn(one), JSON::parse(R"({"permission":"granted","devices":[],
                  "screenMissing":true,"screenMissingName":"Anna's iPhone"})"));

    TestPlatform two(
        JSON{{"wiredIphones", {"S1", ""}}, {"devices", {cameraOnly("C", "Anna's iPhone Camera")}}});
    EXPECT_EQ(runListOn(two), JSON::parse(R"({"permission":"granted","devices":[],
                  "screenMissing":true})"));

    TestPlatform unwired(JSON{{"devices", {cameraOnly("C", "Anna's iPhone Camera")}}});
    EXPECT_FALSE(screenMissingNow(unwired.platform));
    TestPlatform withScreen(
        JSON{{"wiredIphones", {"S1"}}, {"devices", {screen("A"), cameraOnly("C", "x Camera")}}});
    EXPECT_FALSE(screenMissingNow(withScreen.platform));
    EXPECT_FALSE(runListOn(withScreen).contains("screenMissing"));
}

TEST(RequestPermission, AnUndecidedStateIsReadAgainAfterThePrompt) {
    // The prompt answers "granted" but the state afterwards is denied: the state counts.
    TestPlatform test(
        JSON{{"permission", "notDetermined"}, {"promptAnswer", "denied"}, {"promptFlag", true}});
    try {
        runRequestPermission(test.platform);
        ADD_FAILURE() << "did not exit";
    } catch (const ProcessExit& exit) {
        EXPECT_EQ(exit.status, 0);
    }
    EXPECT_EQ(test.output.readAvailable(), "{\"permission\":\"denied\"}\n");
}

TEST(RequestPermission, ADecidedStateIsPrintedAtOnce) {
    for (const char* state : {"granted", "restricted", "denied"}) {
        TestPlatform test(JSON{{"permission", state}, {"promptAnswer", "notDetermined"}});
        EXPECT_THROW(runRequestPermission(test.platform), ProcessExit);
        EXPECT_EQ(test.output.readAvailable(), std::string("{\"permission\":\"") + state + "\"}\n");
    }
}

TEST(Scenes, TheExampleScenesLoadAndShowWhatTheySay) {
    int loaded = 0;
    for (const auto& entry : std::filesystem::directory_iterator(PELKO_PHONE_EXAMPLES)) {
        const std::string name = entry.path().filename().string();
        if (!name.starts_with("phone-") || entry.path().extension() != ".json") continue;
        EXPECT_NO_THROW(sim::loadScene(entry.path())) << name;
        ++loaded;
    }
    EXPECT_GE(loaded, 2);

    TestPlatform test(JSON::parse(pelko::testing::readFile(
        std::filesystem::path(PELKO_PHONE_EXAMPLES) / "phone-camera-only.json")));
    EXPECT_EQ(runListOn(test), JSON::parse(R"({"permission":"granted","devices":[],
                  "screenMissing":true,"screenMissingName":"Anna's iPhone"})"));
    EXPECT_THROW(sim::parseScene(JSON::parse(R"({"permission":"maybe"})")), sim::SceneError);
    EXPECT_THROW(sim::parseScene(JSON::parse(R"({"devices":[{"name":"no id"}]})")),
                 sim::SceneError);
    EXPECT_THROW(
        sim::parseScene(JSON::parse(R"({"devices":[{"uniqueId":"P","screen":{"sizes":[]}}]})")),
        sim::SceneError)
        << "a screen without a size has nothing to show";
}

TEST(Scenes, ErrorsNameTheKeyAndTheKindItTakes) {
    auto errorOf = [](const char* scene) -> std::string {
        try {
            sim::parseScene(JSON::parse(scene));
        } catch (const sim::SceneError& error) {
            return error.what();
        }
        return "accepted";
    };
    const std::pair<const char*, std::vector<std::string>> cases[] = {
        {R"([])", {"a JSON object"}},
        {R"("devices")", {"a JSON object"}},
        {R"({"devices":[{"uniqueId":"P","screen":{"fps":"fast"}}]})", {"\"fps\"", "a number"}},
        {R"({"devices":[{"uniqueId":5}]})", {"\"uniqueId\"", "text"}},
        {R"({"devices":[{"name":"no id"}]})", {"\"uniqueId\""}},
        {R"({"devices":{"uniqueId":"P"}})", {"\"devices\"", "a list"}},
        {R"({"devices":["P"]})", {"device", "a JSON object"}},
        {R"({"devices":[{"uniqueId":"P","inUseByAnotherApp":"yes"}]})",
         {"\"inUseByAnotherApp\"", "true or false"}},
        {R"({"devices":[{"uniqueId":"P","screen":{"sizes":[{"width":"wide","height":2}]}}]})",
         {"\"width\"", "a whole number"}},
        {R"({"devices":[{"uniqueId":"P","runtimeError":{"message":"x"}}]})", {"\"after\""}},
        {R"({"devices":[{"uniqueId":"P","mediaTypes":[1]}]})", {"\"mediaTypes\"", "texts"}},
        {R"({"wiredIphones":"S"})", {"\"wiredIphones\"", "texts"}},
        {R"({"permission":7})", {"\"permission\""}},
        {R"({"promptFlag":1})", {"\"promptFlag\"", "true or false"}},
    };
    for (const auto& [scene, parts] : cases) {
        const std::string message = errorOf(scene);
        EXPECT_EQ(message.find("json.exception"), std::string::npos) << scene << ": " << message;
        for (const std::string& part : parts)
            EXPECT_NE(message.find(part), std::string::npos) << scene << ": " << message;
    }
}

TEST(WiredIphones, AreReadFromTheKernelsUsbDeviceList) {
    pelko::testing::ScopedTempDir root;
    auto device = [&](const std::string& name, const std::string& vendor,
                      const std::string& product, const char* serial) {
        std::filesystem::create_directories(root / name);
        pelko::testing::writeFile(root / name / "idVendor", vendor + "\n");
        pelko::testing::writeFile(root / name / "product", product + "\n");
        if (serial) pelko::testing::writeFile(root / name / "serial", std::string(serial) + "\n");
    };
    device("1-2", "05ac", "iPhone", "00008110-001");
    device("1-1", "05ac", "iPhone", nullptr);  // no serial: counted, with an empty one
    device("1-3", "05ac", "iPad", "X");
    device("2-1", "18d1", "iPhone", "Y");  // another vendor
    device("2-2", "05ac", "Apple Keyboard", "Z");
    std::filesystem::create_directories(root / "1-2:1.0");  // an interface, no attributes

    linux_usb::SysfsUsbDevices usb(root.path());
    EXPECT_EQ(usb.wiredIphoneSerials(), (std::vector<std::string>{"", "00008110-001"}));
    linux_usb::SysfsUsbDevices missing(root / "absent");
    EXPECT_TRUE(missing.wiredIphoneSerials().empty());
}

}  // namespace
}  // namespace pelko::phone

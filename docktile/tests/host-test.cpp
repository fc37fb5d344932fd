// The built plug-in bundle loaded by pelko-docktile-host as the Dock loads it, over a private
// session bus: the stored choice, the change notification posted by another process, the
// withdrawn tile, a host without identifier, and what the host says when loading fails.
#include <gtest/gtest.h>

#include "child-process.h"
#include "json-line.h"
#include "property-list.h"
#include "test-support.h"

namespace pelko::docktile {
namespace {

namespace fs = std::filesystem;
using pelko::testing::ChildOptions;
using pelko::testing::ChildProcess;
using pelko::testing::ExitStatus;
using pelko::testing::ScopedTempDir;
using pelko::testing::Timeout;

const ExitStatus exited0{true, 0, 0};
const ExitStatus exited1{true, 1, 0};
const ExitStatus exited2{true, 2, 0};

const fs::path hostApp = DOCKTILE_HOST_APP;
const fs::path builtPlugIn = DOCKTILE_PLUGIN_BUNDLE;

/// Where the icons differ: a point of the rounded square's background, away from the spark.
constexpr int sampleX = 40, sampleY = 40;

bool looksPersonal(const testing::Pixel& pixel) {
    return pixel.alpha == 255 && pixel.red > 200 && pixel.blue < 150;
}
bool looksStandard(const testing::Pixel& pixel) {
    return pixel.alpha == 255 && pixel.blue > 150 && pixel.red < 120;
}

class HostTest : public ::testing::Test {
  protected:
    ChildOptions options(bool withBus = true) const {
        ChildOptions o;
        o.environment = {{"XDG_CONFIG_HOME", (folder / "config").string()},
                         {"DBUS_SESSION_BUS_ADDRESS",
                          withBus ? bus.address() : "unix:path=" + (folder / "no-bus").string()}};
        return o;
    }
    struct Outcome {
        std::optional<ExitStatus> status;
        std::string out;
        std::string err;
    };
    Outcome tool(std::vector<std::string> args, bool withBus = true) {
        args.insert(args.begin(), DOCKTILE_HOST_BINARY);
        ChildOptions o = options(withBus);
        o.nullStdin = true;
        ChildProcess child(args, o);
        Outcome outcome;
        outcome.out = child.readToEnd();
        outcome.status = child.waitExit();
        outcome.err = child.stderrText();
        return outcome;
    }
    /// The next line of `host` as JSON (null when none came or it is not JSON).
    JSON next(ChildProcess& host) {
        auto line = host.readLine();
        if (!line) return nullptr;
        return parseJSON(*line).value_or(nullptr);
    }
    std::optional<testing::Pixel> sample() const {
        return testing::pixelAt(out(), sampleX, sampleY);
    }
    fs::path out() const { return folder / "tile.png"; }
    std::vector<std::string> runArgs(const fs::path& app, std::vector<std::string> extra = {}) {
        std::vector<std::string> args{DOCKTILE_HOST_BINARY, "run", app.string(), "--out",
                                      out().string()};
        args.insert(args.end(), extra.begin(), extra.end());
        return args;
    }
    /// A host application holding a copy of the built plug-in, with `info` as its list.
    fs::path copyOfHost(const PropertyDictionary& info) {
        fs::path app = folder / "Copy.app";
        testing::makeBundle(app, info);
        fs::create_directories(app / "Contents" / "PlugIns");
        fs::copy(builtPlugIn, app / "Contents" / "PlugIns" / "PelkoDockTile.docktileplugin",
                 fs::copy_options::recursive);
        return app;
    }

    ScopedTempDir folder;
    testing::PrivateBus bus;
};

TEST_F(HostTest, ShowsTheStoredChoiceAndFollowsTheChangeNotification) {
    ASSERT_FALSE(bus.address().empty());
    ASSERT_EQ(tool({"set", "pelko.code", "personal"}).status, exited0);

    ChildProcess host(runArgs(hostApp), options());
    JSON loaded = next(host);
    EXPECT_EQ(loaded["event"], "loaded");
    EXPECT_EQ(loaded["principalClass"], "PelkoDockTilePlugIn");
    EXPECT_EQ(loaded["plugIn"],
              (hostApp / "Contents/PlugIns/PelkoDockTile.docktileplugin").string());
    EXPECT_EQ(next(host)["event"], "tile");
    JSON shown = next(host);
    EXPECT_EQ(shown["content"], "image");
    EXPECT_EQ(shown["image"], (hostApp / "Contents/PlugIns/PelkoDockTile.docktileplugin/Contents/"
                                         "Resources/pelko-app-icon-personal.png")
                                  .string());
    EXPECT_EQ(shown["frame"], JSON({0, 0, 128, 128}));
    EXPECT_EQ(testing::pngSize(out()), (std::pair{128, 128}));
    ASSERT_TRUE(sample());
    EXPECT_TRUE(looksPersonal(*sample()));

    // The host posts the new choice in the notification: no preference is read.
    ASSERT_EQ(tool({"post", "pelko.code", "--icon", "pelko"}).status, exited0);
    EXPECT_EQ(next(host)["content"], "standard");
    EXPECT_TRUE(looksStandard(*sample()));

    // Without "icon" the plug-in reads what the host stored.
    ASSERT_EQ(tool({"set", "pelko.code", "personal"}).status, exited0);
    ASSERT_EQ(tool({"post", "pelko.code"}).status, exited0);
    EXPECT_EQ(next(host)["content"], "image");
    EXPECT_TRUE(looksPersonal(*sample()));

    // Another application's notification is not ours.
    ASSERT_EQ(tool({"post", "other.app", "--icon", "pelko"}).status, exited0);
    EXPECT_TRUE(host.silentFor(Timeout(500)));

    // Withdrawn, the plug-in no longer follows; a new tile shows the stored choice again.
    ASSERT_TRUE(host.writeLine("withdraw"));
    EXPECT_EQ(next(host)["event"], "withdrawn");
    ASSERT_EQ(tool({"post", "pelko.code", "--icon", "pelko"}).status, exited0);
    EXPECT_TRUE(host.silentFor(Timeout(500)));
    EXPECT_TRUE(looksPersonal(*sample()));
    ASSERT_TRUE(host.writeLine("tile"));
    EXPECT_EQ(next(host)["event"], "tile");
    EXPECT_EQ(next(host)["content"], "image");

    host.closeStdin();
    EXPECT_EQ(host.waitExit(), exited0);
    EXPECT_EQ(host.stderrText(), "");
}

TEST_F(HostTest, WithoutASessionBusTheTileStillShowsTheStoredChoice) {
    ASSERT_EQ(tool({"set", "pelko.code", "pelko"}, false).status, exited0);
    ChildOptions o = options(false);
    o.nullStdin = true;
    ChildProcess host(runArgs(hostApp, {"--once", "--size", "96x64"}), o);
    EXPECT_EQ(next(host)["event"], "loaded");
    EXPECT_EQ(next(host)["size"], JSON({96, 64}));
    EXPECT_EQ(next(host)["content"], "standard");
    EXPECT_EQ(host.waitExit(), exited0);
    EXPECT_NE(host.stderrText().find("no session bus"), std::string::npos) << host.stderrText();
    EXPECT_EQ(testing::pngSize(out()), (std::pair{96, 64}));
    // The square icon fits the height and leaves the sides clear.
    EXPECT_EQ(testing::pixelAt(out(), 2, 32)->alpha, 0);
    EXPECT_EQ(testing::pixelAt(out(), 48, 32)->alpha, 255);
}

TEST_F(HostTest, AHostWithoutIdentifierKeepsTheStandardIcon) {
    fs::path app =
        copyOfHost({{"NSDockTilePlugIn", PropertyValue::string("PelkoDockTile.docktileplugin")}});
    ChildOptions o = options();
    o.nullStdin = true;
    ChildProcess host(runArgs(app, {"--once"}), o);
    std::string output = host.readToEnd();
    EXPECT_EQ(host.waitExit(), exited0);
    EXPECT_NE(output.find("\"event\":\"loaded\""), std::string::npos) << output;
    EXPECT_NE(output.find("\"event\":\"tile\""), std::string::npos) << output;
    EXPECT_EQ(output.find("\"event\":\"display\""), std::string::npos) << output;
    // No standard icon in this copy: the grey stand-in.
    auto centre = testing::pixelAt(out(), 64, 64);
    ASSERT_TRUE(centre);
    EXPECT_EQ(centre->red, centre->blue);
}

TEST_F(HostTest, LoadingFailuresAreReportedWithStatus1) {
    struct Case {
        PropertyDictionary hostInfo;
        PropertyDictionary plugInInfo;  // empty: the built plug-in's own
        std::string expected;
    };
    const PropertyValue plugInName = PropertyValue::string("PelkoDockTile.docktileplugin");
    std::vector<Case> cases{
        {{}, {}, "names no Dock tile plug-in"},
        {{{"NSDockTilePlugIn", PropertyValue::string("../../Copy.app")}}, {}, "is not a file name"},
        {{{"NSDockTilePlugIn", PropertyValue::string("Missing.docktileplugin")}}, {}, "is missing"},
        {{{"NSDockTilePlugIn", plugInName}},
         {{"NSPrincipalClass", PropertyValue::string("SomeOtherClass")},
          {"CFBundleExecutable", PropertyValue::string("PelkoDockTile")}},
         "has no principal class SomeOtherClass"},
        {{{"NSDockTilePlugIn", plugInName}},
         {{"NSPrincipalClass", PropertyValue::string("PelkoDockTilePlugIn")},
          {"CFBundleExecutable", PropertyValue::string("Info.plist")}},
         "could not be loaded"},
        {{{"NSDockTilePlugIn", plugInName}},
         {{"CFBundleExecutable", PropertyValue::string("PelkoDockTile")}},
         "names no principal class"},
    };
    for (const auto& c : cases) {
        fs::remove_all(folder / "Copy.app");
        fs::path app = copyOfHost(c.hostInfo);
        fs::path plugIn = app / "Contents/PlugIns/PelkoDockTile.docktileplugin";
        if (!c.plugInInfo.empty()) testing::makeBundle(plugIn, c.plugInInfo);
        // A binary named by the list that is no library.
        fs::create_directories(plugIn / "Contents/MacOS");
        pelko::testing::writeFile(plugIn / "Contents/MacOS/Info.plist", "not a library");
        auto outcome = tool({"run", app.string(), "--out", out().string(), "--once"});
        EXPECT_EQ(outcome.status, exited1) << c.expected;
        EXPECT_NE(outcome.err.find(c.expected), std::string::npos) << outcome.err;
        EXPECT_EQ(outcome.out, "") << c.expected;
    }
    auto outcome = tool({"run", (folder / "nothing.app").string()});
    EXPECT_EQ(outcome.status, exited1);
    EXPECT_NE(outcome.err.find("is not an application bundle"), std::string::npos);
}

TEST_F(HostTest, CommandLineMistakesShowTheUsage) {
    for (const auto& args : std::vector<std::vector<std::string>>{
             {},
             {"bogus"},
             {"run"},
             {"run", hostApp.string(), "--size", "0"},
             {"run", hostApp.string(), "--size", "12x"},
             {"run", hostApp.string(), "--size", "5000"},
             {"run", hostApp.string(), "--out"},
             {"set", "pelko.code"},
             {"post"},
             {"post", "pelko.code", "--icon"},
         }) {
        auto outcome = tool(args);
        EXPECT_EQ(outcome.status, exited2) << ::testing::PrintToString(args);
        EXPECT_NE(outcome.err.find("usage: pelko-docktile-host run"), std::string::npos);
    }
    auto outcome = tool({"set", "../escape", "personal"});
    EXPECT_EQ(outcome.status, exited1);
    EXPECT_FALSE(fs::exists(folder / "escape.plist"));
}

}  // namespace
}  // namespace pelko::docktile

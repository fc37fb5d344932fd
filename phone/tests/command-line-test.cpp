// The command line: usage and exit statuses through the real program, the stream options, the
// size arithmetic, and the small output and waiting helpers.
#include <gtest/gtest.h>

#include <cmath>

#include "child-process.h"
#include "discovery.h"
#include "output.h"
#include "phone-process.h"
#include "phone-streamer.h"
#include "test-support.h"

namespace pelko::phone {
namespace {

using pelko::testing::ChildProcess;
using pelko::testing::ExitStatus;

TEST(CommandLine, TheUsageTextIs178CharactersAndLeavesOutFrames) {
    EXPECT_EQ(usageText.size(), 178u);
    EXPECT_EQ(usageText.find("frames"), std::string_view::npos);
    EXPECT_FALSE(usageText.ends_with("\n"));
}

TEST(CommandLine, ACommandLineThatFitsNoCommandEndsInUsage) {
    const std::string expected = "pelko-phone: " + std::string(usageText) + "\n";
    const std::vector<std::vector<std::string>> wrong = {
        {},
        {"lists"},
        {"LIST"},
        {"list", "extra"},
        {"request-permission", "now"},
        {"stream"},
        {"stream", "--fps", "10"},   // the identifier may not look like an option
        {"stream", "ABC", "--fps"},  // an option without its value
        {"stream", "ABC", "--max-edge", "15"},
        {"stream", "ABC", "--fps", "0"},
        {"stream", "ABC", "--speed", "2"},
        {"copy-png"},
        {"copy-png", "/a.png", "/b.png"},
        {"frames", "/v.mp4"},
        {"frames", "/v.mp4", "--count", "4"},  // an option where the output path belongs
        {"frames", "/v.mp4", "/s.jpg", "--count", "0"},
        {"frames", "/v.mp4", "/s.jpg", "--count", "37"},
        {"frames", "/v.mp4", "/s.jpg", "--tile", "63"},
        {"frames", "/v.mp4", "/s.jpg", "--tile", "2401"},
        {"frames", "/v.mp4", "/s.jpg", "--start", "-1"},
        {"frames", "/v.mp4", "/s.jpg", "--end"},
    };
    for (const auto& arguments : wrong) {
        std::vector<std::string> argv{PELKO_PHONE_BINARY};
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        pelko::testing::ChildOptions options;
        options.environment = {{"PELKO_PHONE_SCENE", ""}};
        ChildProcess phone(argv, options);
        phone.closeStdin();
        EXPECT_EQ(phone.readToEnd(), "") << arguments.size();
        EXPECT_EQ(phone.waitExit(), (ExitStatus{true, 2, 0}));
        EXPECT_EQ(phone.stderrText(), expected);
    }
}

TEST(CommandLine, FramesAndCopyPNGReportTheirFailuresTheirOwnWay) {
    // frames writes its sentence without the program's prefix; copy-png logs with it.
    struct Case {
        std::vector<std::string> argv;
        std::string error;
    };
    const Case cases[] = {
        {{PELKO_PHONE_BINARY, "frames", "/nonexistent/v.mp4", "/nonexistent/sheet.jpg"},
         "The video could not be read (an .mp4, .mov or .m4v file is needed).\n"},
        {{PELKO_PHONE_BINARY, "copy-png", "/nonexistent/a.png"},
         "pelko-phone: cannot read an image at /nonexistent/a.png\n"},
    };
    for (const Case& c : cases) {
        ChildProcess phone(c.argv);
        EXPECT_EQ(phone.readToEnd(), "");
        EXPECT_EQ(phone.waitExit(), (ExitStatus{true, 1, 0}));
        EXPECT_EQ(phone.stderrText(), c.error);
    }
}

TEST(StreamOptions, DefaultsAndLaterOptionsOverrideEarlierOnes) {
    auto none = parseStreamOptions({});
    ASSERT_TRUE(none);
    EXPECT_EQ(none->maxEdge, 1280);
    EXPECT_EQ(none->fps, 30.0);
    EXPECT_EQ(none->quality, 0.7);

    const std::vector<std::string> arguments = {"--fps",     "10",  "--max-edge", "+640",
                                                "--quality", "0.5", "--fps",      "2.5"};
    auto options = parseStreamOptions(arguments);
    ASSERT_TRUE(options);
    EXPECT_EQ(options->maxEdge, 640);
    EXPECT_EQ(options->fps, 2.5);
    EXPECT_EQ(options->quality, 0.5);
}

TEST(StreamOptions, EachValueMustPassItsTest) {
    struct Case {
        std::string name, value;
        bool accepted;
    };
    const Case cases[] = {
        {"--max-edge", "15", false},  {"--max-edge", "16", true},
        {"--max-edge", "-16", false}, {"--max-edge", "16.0", false},
        {"--max-edge", " 16", false}, {"--max-edge", "", false},
        {"--max-edge", "+", false},   {"--max-edge", "99999999999999999999", false},
        {"--fps", "0", false},        {"--fps", "120", true},
        {"--fps", "121", false},      {"--fps", "nan", false},
        {"--fps", "1e-3", true},      {"--fps", "30x", false},
        {"--fps", " 30", false},      {"--quality", "1", true},
        {"--quality", "1.01", false}, {"--quality", "0", true},
        {"--quality", "-0.1", false}, {"--quality", "", false},
    };
    for (const auto& c : cases) {
        const std::vector<std::string> arguments = {c.name, c.value};
        EXPECT_EQ(parseStreamOptions(arguments).has_value(), c.accepted)
            << c.name << " " << c.value;
    }
    const std::vector<std::string> missingValue = {"--fps", "10", "--quality"};
    EXPECT_FALSE(parseStreamOptions(missingValue));
}

TEST(StreamOptions, PacingIsNineTenthsOfTheFramePeriod) {
    EXPECT_EQ(minIntervalFor(30), 30'000'000u);
    EXPECT_EQ(minIntervalFor(120), 7'500'000u);
    EXPECT_EQ(minIntervalFor(1e-300), UINT64_MAX) << "too long to represent: the largest value";
}

TEST(OutputSize, TheLongerEdgeIsScaledToMaxEdgeAndBothSidesMadeEven) {
    EXPECT_EQ(outputSize(1170, 2532, 1280), (PictureSize{590, 1280}));
    EXPECT_EQ(outputSize(2532, 1170, 1280), (PictureSize{1280, 590}));
    EXPECT_EQ(outputSize(1125, 2436, 4000), (PictureSize{1124, 2436})) << "never enlarged";
    EXPECT_EQ(outputSize(3, 5, 1280), (PictureSize{2, 4}));
    EXPECT_EQ(outputSize(1, 1, 1280), (PictureSize{2, 2}));
    EXPECT_EQ(outputSize(1, 4000, 16), (PictureSize{2, 16}));
    // 10 × 16 / 64 = 2.5: halves round away from zero, to 3, then down to even.
    EXPECT_EQ(outputSize(10, 64, 16), (PictureSize{2, 16}));
    EXPECT_EQ(outputSize(30, 64, 32), (PictureSize{14, 32})) << "15 is lowered to 14";
    // 1170 × 1280 / 2532 = 591.47 rounds to 591, lowered to 590; 591.5 would round up to 592.
    EXPECT_EQ(outputSize(1183, 2560, 1280), (PictureSize{592, 1280}));
}

TEST(Output, PermissionWordsAndJSONLines) {
    EXPECT_EQ(permissionName(Authorization::notDetermined), "notDetermined");
    EXPECT_EQ(permissionName(Authorization::restricted), "restricted");
    EXPECT_EQ(permissionName(Authorization::denied), "denied");
    EXPECT_EQ(permissionName(Authorization::authorized), "granted");
    EXPECT_EQ(permissionName(static_cast<Authorization>(7)), "denied");

    testing::Pipe pipe;
    printJSONLine(pipe.writeEnd, {{"permission", "granted"}});
    printJSONLine(pipe.writeEnd, {{"name", "\xFF"}});  // cannot be serialised: nothing at all
    log(pipe.writeEnd, "a frame could not be encoded");
    EXPECT_EQ(pipe.readAvailable(),
              "{\"permission\":\"granted\"}\npelko-phone: a frame could not be encoded\n");
}

TEST(Spin, StopsEarlyOnThePredicateAndNeverAsksItAfterTheDeadline) {
    VirtualClock clock;
    int asked = 0;
    spin(clock, seconds(1.0), seconds(0.25), [&] { return ++asked == 3; });
    EXPECT_EQ(asked, 3);
    EXPECT_EQ(clock.pauses(), (std::vector<Duration>{seconds(0.25), seconds(0.25)}));

    VirtualClock other;
    asked = 0;
    spin(other, seconds(0.6), seconds(0.25), [&] {
        EXPECT_LT(other.elapsed(), seconds(0.6));
        ++asked;
        return false;
    });
    EXPECT_EQ(asked, 3);
    EXPECT_EQ(other.pauses(), (std::vector<Duration>{seconds(0.25), seconds(0.25), seconds(0.1)}));

    // A predicate that takes time: the wait still ends at the deadline, not a step after it.
    VirtualClock slow;
    asked = 0;
    spin(slow, seconds(0.6), seconds(0.25), [&] {
        ++asked;
        slow.advance(seconds(0.2));
        return false;
    });
    EXPECT_EQ(asked, 2);
    EXPECT_EQ(slow.pauses(), (std::vector<Duration>{seconds(0.25)}));
    EXPECT_EQ(slow.elapsed(), seconds(0.65));
}

}  // namespace
}  // namespace pelko::phone

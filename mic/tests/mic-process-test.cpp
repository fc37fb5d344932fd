// The program on the simulated microphone in virtual time: what it prints and when, how every
// way of stopping ends, the meter's interval and change rule, and the start-up's checks.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>

#include "command-line.h"
#include "mic-process.h"
#include "virtual-run.h"

namespace pelko::mic {
namespace {

using testing::VirtualRun;
using Lines = std::vector<std::string>;

/// The line written at `seconds`, or "" when none was.
std::string lineAt(const VirtualRun& run, double seconds) {
    for (const auto& line : run.lines) {
        if (std::abs(line.at - seconds) < 1e-6) return line.text;
    }
    return "";
}

TEST(CommandLine, MaxSecondsTakesStrtodSyntaxOverTheWholeArgument) {
    EXPECT_EQ(parseMaxSeconds("2"), 2.0);
    EXPECT_EQ(parseMaxSeconds("2.5"), 2.5);
    EXPECT_EQ(parseMaxSeconds("1e1"), 10.0);
    EXPECT_EQ(parseMaxSeconds("0x1p3"), 8.0);
    EXPECT_EQ(parseMaxSeconds("-3"), -3.0);  // used unchanged; the recorder refuses it
    EXPECT_TRUE(std::isinf(parseMaxSeconds("inf").value()));
    EXPECT_TRUE(std::isnan(parseMaxSeconds("nan").value()));
    for (const char* notANumber : {"abc", " 5", "5 ", "\t5", "5s", "2,5", "", "1e", "--1"}) {
        EXPECT_EQ(parseMaxSeconds(notANumber), std::nullopt) << '"' << notANumber << '"';
    }
}

TEST(CommandLine, RelativeOutputPathsAreTakenAgainstTheCurrentFolder) {
    EXPECT_EQ(outputURL("take.m4a"), std::filesystem::current_path() / "take.m4a");
    EXPECT_EQ(outputURL("/tmp/take.m4a"), std::filesystem::path("/tmp/take.m4a"));
}

TEST(Meter, LevelIsLinearInDecibelsFromMinus50ToMinus10) {
    EXPECT_EQ(levelFromPower(-160), 0);
    EXPECT_EQ(levelFromPower(-50), 0);
    EXPECT_DOUBLE_EQ(levelFromPower(-30), 0.5);
    EXPECT_DOUBLE_EQ(levelFromPower(-20), 0.75);
    EXPECT_EQ(levelFromPower(-10), 1);
    EXPECT_EQ(levelFromPower(3), 1);
    EXPECT_EQ(levelFromPower(NAN), 0);
    EXPECT_EQ(levelFromPower(-INFINITY), 0);
    EXPECT_EQ(statusLine("level", 0.175), "level 0.17");  // printf rounding of the binary value
    EXPECT_EQ(statusLine("done", 6000), "done 6000.00");
}

TEST(MicProcess, NoArgumentIsAUsageError) {
    VirtualRun run;
    run.run({});
    EXPECT_EQ(run.texts(), Lines{"error usage"});
    ASSERT_EQ(run.exits.size(), 1u);
    EXPECT_EQ(run.exits[0].status, 64);
    EXPECT_TRUE(run.audio->log().entries().empty());
}

TEST(MicProcess, ClosingInputStopsTheRecordingWithTheSecondsRecorded) {
    VirtualRun run;
    run.closeInputAt(1.0);
    run.run({"take.m4a"});
    EXPECT_EQ(run.texts(), (Lines{"recording", "level 0.00", "done 1.00"}));
    EXPECT_EQ(lineAt(run, 0.06), "level 0.00");
    EXPECT_EQ(lineAt(run, 1.0), "done 1.00");
    ASSERT_EQ(run.exits.size(), 1u);
    EXPECT_EQ(run.exits[0].status, 0);
    const auto path = std::filesystem::current_path() / "take.m4a";
    EXPECT_EQ(run.audio->log().entries(), (Lines{"makeRecorder " + path.string(), "metering on",
                                                 "prepare", "record 6000.00", "stop 1.00"}));
    const RecorderSettings settings = run.audio->lastSettings().value();
    EXPECT_EQ(settings.format, 0x61616320u);  // 'aac '
    EXPECT_EQ(settings.sampleRate, 16000);
    EXPECT_EQ(settings.channels, 1);
    EXPECT_EQ(settings.encoderBitRate, 32000);
    EXPECT_EQ(settings.bitRateStrategy, BitRateStrategy::constant);
}

TEST(MicProcess, EveryStopArrivingAtOnceGivesOneDoneLine) {
    VirtualRun run;
    run.signalAt(1.0);
    run.signalAt(1.0);
    run.closeInputAt(1.0);
    run.signalAt(1.5);
    run.run({"/tmp/take.m4a"});
    EXPECT_EQ(run.texts(), (Lines{"recording", "level 0.00", "done 1.00"}));
    EXPECT_EQ(run.exits.size(), 1u);
    const auto log = run.audio->log().entries();
    EXPECT_EQ(std::count(log.begin(), log.end(), "stop 1.00"), 1);
    // The meter stopped with the recording.
    EXPECT_LE(run.audio->log().meterUpdates().back(), seconds(1.0));
}

TEST(MicProcess, TheMeterSamplesEvery60msAndPrintsOnlyChangesOf002) {
    sim::SimMicrophone microphone;
    microphone.power = {
        {0.33, -30},    // level 0.50
        {0.63, -29.4},  // 0.515: too close to 0.50
        {0.93, -29.2},  // 0.52: 0.02 from the level last printed
        {1.23, -38},    // 0.30
        {1.53, -38.8},  // 0.28: a change of 0.02 downwards
        {1.83, -5},     // above -10 dB: 1
        {2.13, 3},      // still 1
        {2.43, -70},    // below -50 dB: 0
    };
    VirtualRun run(microphone);
    run.closeInputAt(2.7);
    run.run({"/tmp/take.m4a"});
    EXPECT_EQ(run.texts(),
              (Lines{"recording", "level 0.00", "level 0.50", "level 0.52", "level 0.30",
                     "level 0.28", "level 1.00", "level 0.00", "done 2.70"}));
    // Each change shows at the first tick after it: ticks fall on multiples of 60 ms.
    EXPECT_EQ(lineAt(run, 0.36), "level 0.50");
    EXPECT_EQ(lineAt(run, 0.96), "level 0.52");
    EXPECT_EQ(lineAt(run, 1.86), "level 1.00");
    const auto updates = run.audio->log().meterUpdates();
    ASSERT_EQ(updates.size(), 45u);  // 2.70 / 0.06
    for (size_t i = 0; i < updates.size(); ++i) {
        EXPECT_EQ(updates[i], seconds(0.06) * static_cast<long>(i + 1)) << i;
    }
}

TEST(MicProcess, ARecorderThatStopsByItselfIsReportedAtTheNextPoll) {
    sim::SimMicrophone microphone;
    microphone.stopsAfter = 2.3;
    microphone.power = {{0, -30}};
    VirtualRun run(microphone);
    run.run({"/tmp/take.m4a", "abc"});
    EXPECT_EQ(run.texts(), (Lines{"recording", "level 0.50", "done 6000.00"}));
    EXPECT_EQ(lineAt(run, 3.0), "done 6000.00");
    ASSERT_EQ(run.exits.size(), 1u);
    EXPECT_EQ(run.exits[0].status, 0);
    const auto log = run.audio->log().entries();
    EXPECT_EQ(log.back(), "record 6000.00");  // never stopped by the program
    EXPECT_LE(run.audio->log().meterUpdates().back(), seconds(2.3));
}

TEST(MicProcess, DeniedOrRestrictedAccessAsksNobody) {
    for (auto state : {Authorization::denied, Authorization::restricted}) {
        sim::SimMicrophone microphone;
        microphone.authorization = state;
        VirtualRun run(microphone);
        run.run({"/tmp/take.m4a"});
        EXPECT_EQ(run.texts(), Lines{"error denied"});
        ASSERT_EQ(run.exits.size(), 1u);
        EXPECT_EQ(run.exits[0].status, 3);
        EXPECT_TRUE(run.audio->log().entries().empty());
    }
}

TEST(MicProcess, AnUndecidedUserIsAskedAndTheProgramWaitsForTheAnswer) {
    sim::SimMicrophone microphone;
    microphone.authorization = Authorization::notDetermined;
    microphone.promptDelay = seconds(4);
    VirtualRun run(microphone);
    run.closeInputAt(5.0);
    run.run({"/tmp/take.m4a"});
    EXPECT_EQ(run.texts(), (Lines{"recording", "level 0.00", "done 1.00"}));
    EXPECT_EQ(lineAt(run, 4.0), "recording");
    EXPECT_EQ(run.audio->log().entries().front(), "requestAccess");

    microphone.promptAnswer = false;
    VirtualRun refused(microphone);
    refused.run({"/tmp/take.m4a"});
    EXPECT_EQ(refused.texts(), Lines{"error denied"});
    EXPECT_EQ(refused.exits.at(0).at, 4.0);
    EXPECT_EQ(refused.exits.at(0).status, 3);
    EXPECT_EQ(refused.audio->log().entries(), Lines{"requestAccess"});
}

TEST(MicProcess, ARecorderThatCannotBeMadePreparedOrStartedFails) {
    struct Case {
        void (*arrange)(sim::SimMicrophone&);
        const char* maxSeconds;
        Lines calls;
    };
    const Case cases[] = {
        {[](sim::SimMicrophone& m) { m.createFails = true; }, "5", {"makeRecorder /tmp/t.m4a"}},
        {[](sim::SimMicrophone& m) { m.prepareFails = true; },
         "5",
         {"makeRecorder /tmp/t.m4a", "metering on", "prepare"}},
        {[](sim::SimMicrophone& m) { m.recordFails = true; },
         "5",
         {"makeRecorder /tmp/t.m4a", "metering on", "prepare", "record 5.00"}},
        {[](sim::SimMicrophone&) {},
         "0",
         {"makeRecorder /tmp/t.m4a", "metering on", "prepare", "record 0.00"}},
    };
    for (const auto& each : cases) {
        sim::SimMicrophone microphone;
        each.arrange(microphone);
        VirtualRun run(microphone);
        run.run({"/tmp/t.m4a", each.maxSeconds});
        EXPECT_EQ(run.texts(), Lines{"error failed"});
        ASSERT_EQ(run.exits.size(), 1u);
        EXPECT_EQ(run.exits[0].status, 4);
        EXPECT_EQ(run.audio->log().entries(), each.calls);
    }
}

TEST(RepeatingTimer, KeepsItsScheduleAndStopsWhenDestroyed) {
    VirtualClock clock;
    MainLoop loop(clock);
    std::vector<double> firings;
    std::unique_ptr<RepeatingTimer> timer;
    timer = std::make_unique<RepeatingTimer>(loop, clock, seconds(1), seconds(0.5), [&] {
        firings.push_back(inSeconds(clock.elapsed()));
        // A slow handler: the firings stay on their schedule and the missed one collapses.
        if (firings.size() == 2) clock.advance(seconds(0.7));
        if (firings.size() == 4) loop.post([&] { timer.reset(); });
    });
    std::function<void()> drive = [&] {
        if (clock.elapsed() >= seconds(5)) return loop.quit();
        clock.advance(seconds(0.01));
        loop.post(drive);
    };
    loop.post(drive);
    loop.run();
    EXPECT_EQ(firings, (std::vector<double>{1.0, 1.5, 2.5, 3.0}));
}

}  // namespace
}  // namespace pelko::mic

// The Linux backend in the test process: the environment's choices, the files it agrees to
// write, the power it measures from real samples, and what it leaves on disk when it fails.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <thread>

#include "child-process.h"
#include "clock.h"
#include "linux/ffmpeg-recorder.h"
#include "linux/linux-audio.h"

namespace pelko::mic::ffmpeg {
namespace {

using pelko::testing::ScopedTempDir;

TEST(LinuxAudio, TheEnvironmentNamesTheInputAndRefusesAccess) {
    const std::vector<InputSource> defaults{{"pulse", "default"}, {"alsa", "default"}};
    EXPECT_EQ(linuxAudioOptions(nullptr, nullptr).inputs, defaults);
    EXPECT_EQ(linuxAudioOptions("", "").inputs, defaults);
    EXPECT_EQ(linuxAudioOptions("lavfi:sine=f=440:d=2", nullptr).inputs,
              (std::vector<InputSource>{{"lavfi", "sine=f=440:d=2"}}));
    EXPECT_EQ(linuxAudioOptions("alsa:hw:1,0", nullptr).inputs,
              (std::vector<InputSource>{{"alsa", "hw:1,0"}}));
    EXPECT_EQ(linuxAudioOptions("file:/tmp/a:b.wav", nullptr).inputs,
              (std::vector<InputSource>{{"", "/tmp/a:b.wav"}}));
    EXPECT_EQ(linuxAudioOptions("/tmp/voice.wav", nullptr).inputs,
              (std::vector<InputSource>{{"", "/tmp/voice.wav"}}));

    EXPECT_EQ(linuxAudioOptions(nullptr, nullptr).access, Authorization::authorized);
    EXPECT_EQ(linuxAudioOptions(nullptr, "denied").access, Authorization::denied);
    EXPECT_EQ(linuxAudioOptions(nullptr, "restricted").access, Authorization::restricted);
    EXPECT_EQ(linuxAudioOptions(nullptr, "granted").access, Authorization::authorized);
}

TEST(LinuxAudio, TheExtensionChoosesTheContainer) {
    EXPECT_EQ(containerFor("/a/take.m4a"), "ipod");
    EXPECT_EQ(containerFor("/a/take.M4A"), "ipod");
    EXPECT_EQ(containerFor("/a/take.mp4"), "mp4");
    EXPECT_EQ(containerFor("/a/take.aac"), "adts");
    for (const char* refused : {"/a/take.wav", "/a/take.caf", "/a/take", "/a/.m4a.x", "/a/m4a"}) {
        EXPECT_EQ(containerFor(refused), std::nullopt) << refused;
    }

    RealClock clock;
    LinuxAudioSystem audio(clock, linuxAudioOptions("lavfi:anullsrc", nullptr));
    EXPECT_EQ(audio.makeRecorder("/tmp/take.wav", {}), nullptr);
    RecorderSettings stereo;
    stereo.channels = 2;
    EXPECT_EQ(audio.makeRecorder("/tmp/take.m4a", stereo), nullptr);
    RecorderSettings linearPCM;
    linearPCM.format = 0x6C70636D;  // 'lpcm'
    EXPECT_EQ(audio.makeRecorder("/tmp/take.m4a", linearPCM), nullptr);
    EXPECT_NE(audio.makeRecorder("/tmp/take.m4a", {}), nullptr);
}

TEST(LinuxAudio, PowerIsTheMeanSquareInDecibelsOfFullScale) {
    EXPECT_DOUBLE_EQ(averagePowerDB(100, 100), 0);        // full-scale square
    EXPECT_NEAR(averagePowerDB(50, 100), -3.0103, 1e-4);  // full-scale sine
    EXPECT_NEAR(averagePowerDB(0.01 * 0.01 / 2 * 16000, 16000), -43.0103, 1e-4);
    EXPECT_EQ(averagePowerDB(0, 16000), -160);
    EXPECT_EQ(averagePowerDB(1e-30, 16000), -160);
    EXPECT_EQ(averagePowerDB(5, 0), -160);
}

TEST(LinuxAudio, ARecorderMeasuresAToneAndCountsItsSamples) {
    ScopedTempDir folder;
    RealClock clock;
    LinuxAudioSystem audio(
        clock, linuxAudioOptions("lavfi:aevalsrc=0.5*sin(2*PI*440*t):s=48000", nullptr));
    auto recorder = audio.makeRecorder(folder / "tone.m4a", {});
    ASSERT_NE(recorder, nullptr);
    recorder->setMeteringEnabled(true);
    ASSERT_TRUE(recorder->recordForDuration(0.5));
    EXPECT_TRUE(recorder->isRecording());
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    recorder->updateMeters();
    EXPECT_NEAR(recorder->averagePower(0), -9.03, 0.3);
    EXPECT_EQ(recorder->averagePower(1), -160);
    // The duration ends the recording on the sample, and the file is complete by then.
    for (int i = 0; i < 300 && recorder->isRecording(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_FALSE(recorder->isRecording());
    EXPECT_EQ(recorder->currentTime(), 0.5);
    EXPECT_GT(std::filesystem::file_size(folder / "tone.m4a"), 1000u);
}

TEST(LinuxAudio, AFailedOrUnusedRecorderLeavesNoFile) {
    ScopedTempDir folder;
    RealClock clock;
    LinuxAudioSystem badInput(clock, linuxAudioOptions("lavfi:nosuchsource", nullptr));
    auto recorder = badInput.makeRecorder(folder / "a.m4a", {});
    ASSERT_NE(recorder, nullptr);
    EXPECT_FALSE(recorder->prepareToRecord());
    EXPECT_FALSE(recorder->recordForDuration(5));
    EXPECT_FALSE(std::filesystem::exists(folder / "a.m4a"));

    LinuxAudioSystem silence(clock, linuxAudioOptions("lavfi:anullsrc", nullptr));
    recorder = silence.makeRecorder(folder / "b.m4a", {});
    ASSERT_TRUE(recorder->prepareToRecord());
    EXPECT_TRUE(std::filesystem::exists(folder / "b.m4a"));
    EXPECT_FALSE(recorder->recordForDuration(0));
    EXPECT_FALSE(recorder->recordForDuration(NAN));
    recorder.reset();
    EXPECT_FALSE(std::filesystem::exists(folder / "b.m4a"));

    recorder = silence.makeRecorder(folder / "missing" / "c.m4a", {});
    EXPECT_FALSE(recorder->prepareToRecord());
}

}  // namespace
}  // namespace pelko::mic::ffmpeg

// The Linux backend's choices in the test process: the environment's input and access, the
// files and settings it agrees to record, and the decibels of a mean square.
#include <gtest/gtest.h>

#include "clock.h"
#include "linux/ffmpeg-recorder.h"
#include "linux/linux-audio.h"

namespace pelko::mic::ffmpeg {
namespace {

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

}  // namespace
}  // namespace pelko::mic::ffmpeg

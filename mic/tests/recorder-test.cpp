// pelko-mic through the real binary on FFmpeg test inputs: the status lines, the exit
// statuses, every way of stopping, and the files as ffprobe reads them.
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <functional>
#include <map>
#include <regex>
#include <sstream>
#include <thread>

#include "child-process.h"

namespace pelko::mic {
namespace {

using pelko::testing::ChildOptions;
using pelko::testing::ChildProcess;
using pelko::testing::ExitStatus;
using pelko::testing::ScopedTempDir;
using pelko::testing::Timeout;

const ExitStatus exited0{true, 0, 0};

/// Generated test inputs, as PELKO_MIC_INPUT names them.
const std::string tone = "lavfi:sine=frequency=440:sample_rate=48000";
const std::string noise = "lavfi:anoisesrc=amplitude=0.3:color=pink:sample_rate=44100";
const std::string silence = "lavfi:anullsrc=channel_layout=stereo:sample_rate=48000";
const std::string quietTone = "lavfi:aevalsrc=0.01*sin(2*PI*440*t):s=48000";
const std::string loudTone = "lavfi:aevalsrc=0.5*sin(2*PI*440*t):s=48000";

std::unique_ptr<ChildProcess> startMic(std::vector<std::string> arguments,
                                       std::map<std::string, std::string> environment) {
    arguments.insert(arguments.begin(), PELKO_MIC_BINARY);
    ChildOptions options;
    options.environment = std::move(environment);
    // Only what the test names reaches the program.
    options.unset = {"PELKO_MIC_INPUT", "PELKO_MIC_ACCESS"};
    return std::make_unique<ChildProcess>(arguments, options);
}

std::unique_ptr<ChildProcess> recordFrom(const std::string& input,
                                         std::vector<std::string> arguments) {
    return startMic(std::move(arguments), {{"PELKO_MIC_INPUT", input}});
}

/// ffprobe's view of a file: the audio stream's and the container's fields, by name.
std::map<std::string, std::string> probe(const std::filesystem::path& file) {
    ChildProcess ffprobe({"/usr/bin/ffprobe", "-v", "error", "-count_packets", "-select_streams",
                          "a:0", "-show_entries",
                          "stream=codec_name,profile,sample_rate,channels,bit_rate,duration,"
                          "nb_read_packets:format=format_name,duration",
                          "-of", "default=noprint_wrappers=1", file.string()});
    std::map<std::string, std::string> fields;
    std::istringstream text(ffprobe.readToEnd());
    for (std::string line; std::getline(text, line);) {
        const auto equals = line.find('=');
        if (equals != std::string::npos) fields[line.substr(0, equals)] = line.substr(equals + 1);
    }
    ffprobe.waitExit();
    return fields;
}

double number(const std::string& text) {
    return text.empty() ? -1 : std::stod(text);
}

/// Reads lines up to the done line; the seconds it reports, or -1 when it did not come.
double readUntilDone(ChildProcess& mic, std::vector<std::string>& lines) {
    while (auto line = mic.readLine(Timeout(15000))) {
        lines.push_back(*line);
        if (line->starts_with("done ")) return std::stod(line->substr(5));
    }
    return -1;
}

/// The levels among `lines`.
std::vector<double> levels(const std::vector<std::string>& lines) {
    std::vector<double> result;
    for (const auto& line : lines) {
        if (line.starts_with("level ")) result.push_back(std::stod(line.substr(6)));
    }
    return result;
}

/// Every line has one of the shapes the host reads.
void expectWellFormed(const std::vector<std::string>& lines) {
    const std::regex shape(R"(recording|level (0\.\d\d|1\.00)|done \d+\.\d\d)");
    for (const auto& line : lines) EXPECT_TRUE(std::regex_match(line, shape)) << line;
}

struct Recorder : ::testing::Test {
    ScopedTempDir folder;
};

/// What a recording stopped by the host printed.
struct Stopped {
    std::vector<std::string> lines;
    double recorded = -1;
};

/// Records `input` with `arguments`, lets it run for `running` after "recording", ends it with
/// `stop`, and expects one done line with nothing after it, exit 0 and no diagnostics.
Stopped recordThenStop(const std::string& input, std::vector<std::string> arguments,
                       std::chrono::milliseconds running,
                       const std::function<void(ChildProcess&)>& stop) {
    auto mic = recordFrom(input, std::move(arguments));
    Stopped result;
    EXPECT_EQ(mic->readLine(), "recording");
    result.lines.push_back("recording");
    std::this_thread::sleep_for(running);
    stop(*mic);
    result.recorded = readUntilDone(*mic, result.lines);
    EXPECT_EQ(mic->readToEnd(), "");
    EXPECT_EQ(mic->waitExit(), exited0);
    EXPECT_EQ(mic->stderrText(), "");
    expectWellFormed(result.lines);
    return result;
}

TEST_F(Recorder, NoArgumentsIsAUsageError) {
    auto mic = startMic({}, {});
    EXPECT_EQ(mic->readToEnd(), "error usage\n");
    EXPECT_EQ(mic->waitExit(), (ExitStatus{true, 64, 0}));
    EXPECT_EQ(mic->stderrText(), "");
}

TEST_F(Recorder, ClosingInputAfterASecondGivesAPlayableMPEG4File) {
    const auto file = folder / "take.m4a";
    const auto [lines, recorded] = recordThenStop(noise, {file.string()}, std::chrono::seconds(1),
                                                  [](ChildProcess& mic) { mic.closeStdin(); });
    EXPECT_FALSE(levels(lines).empty());
    EXPECT_GE(recorded, 1.0);
    EXPECT_LT(recorded, 2.0);  // counted at the real rate, whatever the delays of a busy machine

    auto fields = probe(file);
    EXPECT_EQ(fields["format_name"], "mov,mp4,m4a,3gp,3g2,mj2");
    EXPECT_EQ(fields["codec_name"], "aac");
    EXPECT_EQ(fields["profile"], "LC");
    EXPECT_EQ(fields["sample_rate"], "16000");
    EXPECT_EQ(fields["channels"], "1");
    EXPECT_NEAR(number(fields["bit_rate"]), 32000, 3000);
    EXPECT_NEAR(number(fields["duration"]), recorded, 0.02);
}

TEST_F(Recorder, AnInterruptStopsLikeTheEndOfInputAndASecondChangesNothing) {
    const auto file = folder / "take.aac";
    const double recorded =
        recordThenStop(tone, {file.string(), "30"}, std::chrono::seconds(1), [](ChildProcess& mic) {
            mic.signal(SIGINT);
            mic.signal(SIGINT);
        }).recorded;
    EXPECT_GE(recorded, 1.0);
    EXPECT_LT(recorded, 2.0);  // counted at the real rate, whatever the delays of a busy machine

    // ADTS frames carry 1024 samples each, the first of them the encoder's priming.
    auto fields = probe(file);
    EXPECT_EQ(fields["format_name"], "aac");
    EXPECT_EQ(fields["codec_name"], "aac");
    EXPECT_EQ(fields["sample_rate"], "16000");
    EXPECT_EQ(fields["channels"], "1");
    EXPECT_NEAR((number(fields["nb_read_packets"]) - 1) * 1024 / 16000, recorded, 0.07);
}

TEST_F(Recorder, EveryStopAtOnceGivesOneDoneLine) {
    const auto file = folder / "take.mp4";
    const auto stopped = recordThenStop(tone, {file.string()}, std::chrono::milliseconds(300),
                                        [](ChildProcess& mic) {
                                            mic.signal(SIGTERM);
                                            mic.closeStdin();
                                            mic.signal(SIGINT);
                                            mic.signal(SIGTERM);
                                        });
    EXPECT_GT(stopped.recorded, 0.25);
    EXPECT_EQ(probe(file)["codec_name"], "aac");
}

TEST_F(Recorder, AStopRightAfterRecordingBeginsStillFinishesTheFile) {
    const auto file = folder / "take.m4a";
    const auto stopped = recordThenStop(tone, {file.string()}, std::chrono::milliseconds(0),
                                        [](ChildProcess& mic) { mic.signal(SIGTERM); });
    EXPECT_GE(stopped.recorded, 0) << "one done line";
    auto fields = probe(file);
    EXPECT_EQ(fields["format_name"], "mov,mp4,m4a,3gp,3g2,mj2") << "a whole MPEG-4 file";
    // On a busy machine the stop may come before the first samples ("done 0.00"): the file
    // then holds no track at all, as the muxer writes none that is empty. What was recorded
    // is AAC.
    if (stopped.recorded > 0) EXPECT_EQ(fields["codec_name"], "aac");
}

TEST_F(Recorder, AHostThatStopsReadingLeavesTheRecordingToRunAndFinish) {
    const auto file = folder / "take.m4a";
    auto mic = recordFrom(tone, {file.string()});
    ASSERT_EQ(mic->readLine(), "recording");
    mic->closeStdout();
    // Level lines now go to a closed pipe; the recording goes on regardless.
    std::this_thread::sleep_for(std::chrono::milliseconds(700));
    mic->closeStdin();
    EXPECT_EQ(mic->waitExit(), exited0);
    EXPECT_EQ(mic->stderrText(), "");
    auto fields = probe(file);
    EXPECT_EQ(fields["format_name"], "mov,mp4,m4a,3gp,3g2,mj2") << "a whole MPEG-4 file";
    EXPECT_EQ(fields["codec_name"], "aac");
    EXPECT_GT(number(fields["duration"]), 0);
}

TEST_F(Recorder, MaxSecondsStopsTheRecordingOnItsLastSample) {
    const auto file = folder / "take.m4a";
    auto mic = recordFrom(tone, {file.string(), "2"});
    std::vector<std::string> lines;
    EXPECT_EQ(readUntilDone(*mic, lines), 2.0);
    EXPECT_EQ(lines.front(), "recording");
    EXPECT_EQ(lines.back(), "done 2.00");
    EXPECT_EQ(mic->waitExit(), exited0);
    EXPECT_NEAR(number(probe(file)["duration"]), 2.0, 0.001);
}

TEST_F(Recorder, MaxSecondsThatAreNotANumberLeaveTheLimitAt6000) {
    // An input of one second ends by itself; the poll then reports the limit.
    for (const char* maxSeconds : {"abc", " 5"}) {
        const auto file = folder / "take.m4a";
        auto mic = recordFrom("lavfi:sine=frequency=440:duration=1", {file.string(), maxSeconds});
        std::vector<std::string> lines;
        EXPECT_EQ(readUntilDone(*mic, lines), 6000) << '"' << maxSeconds << '"';
        EXPECT_EQ(mic->waitExit(), exited0);
        EXPECT_NEAR(number(probe(file)["duration"]), 1.0, 0.001);
    }
    auto mic =
        recordFrom("lavfi:sine=frequency=440:duration=1", {(folder / "take.m4a").string(), "5"});
    std::vector<std::string> lines;
    EXPECT_EQ(readUntilDone(*mic, lines), 5);
}

TEST_F(Recorder, ASoundFileIsRecordedLikeAMicrophoneThatGoesAwayAtItsEnd) {
    // A stereo file at 44.1 kHz: resampled and mixed down, its tone keeps its level.
    const auto sound = folder / "voice.wav";
    ChildProcess ffmpeg({"/usr/bin/ffmpeg", "-v", "error", "-nostdin", "-f", "lavfi", "-i",
                         "sine=frequency=300:sample_rate=44100:duration=1.5", "-ac", "2",
                         sound.string()});
    ASSERT_EQ(ffmpeg.waitExit(), exited0);
    const auto file = folder / "voice.m4a";
    auto mic = recordFrom("file:" + sound.string(), {file.string()});
    std::vector<std::string> lines;
    EXPECT_EQ(readUntilDone(*mic, lines), 6000);
    EXPECT_EQ(mic->waitExit(), exited0);
    ASSERT_FALSE(levels(lines).empty());
    EXPECT_EQ(levels(lines).back(), 0.72);
    EXPECT_NEAR(number(probe(file)["duration"]), 1.5, 0.001);
}

TEST_F(Recorder, SilencePrintsOneLevelLineAndNothingMore) {
    auto mic = recordFrom(silence, {(folder / "quiet.m4a").string()});
    ASSERT_EQ(mic->readLine(), "recording");
    EXPECT_EQ(mic->readLine(), "level 0.00");
    EXPECT_TRUE(mic->silentFor(Timeout(1200)));
    mic->closeStdin();
    EXPECT_TRUE(mic->readLine().value_or("").starts_with("done "));
    EXPECT_EQ(mic->waitExit(), exited0);
}

TEST_F(Recorder, ATonePrintsItsLevel) {
    struct Case {
        std::string input;
        double level;  // (power + 50) / 40, power the tone's mean square in dB
    };
    const Case cases[] = {
        {quietTone, (-43.01 + 50) / 40},  // amplitude 0.01
        {tone, (-21.07 + 50) / 40},       // FFmpeg's sine: amplitude 1/8
        {loudTone, 1},                    // amplitude 0.5, -9.03 dB, above -10 dB
    };
    for (const auto& each : cases) {
        auto mic = recordFrom(each.input, {(folder / "tone.m4a").string()});
        ASSERT_EQ(mic->readLine(), "recording");
        std::this_thread::sleep_for(std::chrono::milliseconds(600));
        mic->closeStdin();
        std::vector<std::string> lines;
        readUntilDone(*mic, lines);
        EXPECT_EQ(mic->waitExit(), exited0);
        auto seen = levels(lines);
        ASSERT_FALSE(seen.empty()) << each.input;
        EXPECT_NEAR(seen.back(), each.level, 0.015) << each.input;
    }
}

TEST_F(Recorder, WithoutASoundServerOrCardTheDefaultInputFailsQuietly) {
    // No PulseAudio server at that address, and an ALSA configuration without a default device.
    auto mic = startMic({(folder / "take.m4a").string()},
                        {{"PULSE_SERVER", "unix:" + (folder / "no-server").string()},
                         {"ALSA_CONFIG_PATH", "/dev/null"}});
    EXPECT_EQ(mic->readToEnd(), "error failed\n");
    EXPECT_EQ(mic->waitExit(), (ExitStatus{true, 4, 0}));
    EXPECT_EQ(mic->stderrText(), "");
    EXPECT_TRUE(std::filesystem::is_empty(folder.path()));
}

TEST_F(Recorder, DeniedAccessRecordsNothing) {
    const auto file = folder / "take.m4a";
    auto mic =
        startMic({file.string()}, {{"PELKO_MIC_INPUT", tone}, {"PELKO_MIC_ACCESS", "denied"}});
    EXPECT_EQ(mic->readToEnd(), "error denied\n");
    EXPECT_EQ(mic->waitExit(), (ExitStatus{true, 3, 0}));
    EXPECT_FALSE(std::filesystem::exists(file));
}

TEST_F(Recorder, AnInputOrFileThatCannotBeOpenedFails) {
    const std::pair<std::string, std::filesystem::path> cases[] = {
        {"lavfi:nosuchsource", folder / "take.m4a"},
        {"nosuchformat:default", folder / "take.m4a"},
        {(folder / "missing.wav").string(), folder / "take.m4a"},
        {tone, folder / "missing" / "take.m4a"},
        {tone, folder / "take.wav"},
        {tone, folder.path()},
    };
    for (const auto& [input, file] : cases) {
        auto mic = recordFrom(input, {file.string()});
        EXPECT_EQ(mic->readToEnd(), "error failed\n") << input << " → " << file;
        EXPECT_EQ(mic->waitExit(), (ExitStatus{true, 4, 0}));
        EXPECT_EQ(mic->stderrText(), "");
    }
    EXPECT_TRUE(std::filesystem::is_empty(folder.path()));

    auto mic = recordFrom(tone, {(folder / "take.m4a").string(), "0"});
    EXPECT_EQ(mic->readToEnd(), "error failed\n");
    EXPECT_FALSE(std::filesystem::exists(folder / "take.m4a"));
}

}  // namespace
}  // namespace pelko::mic

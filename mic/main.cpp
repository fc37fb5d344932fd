// pelko-mic: records the default microphone (or the test input named by PELKO_MIC_INPUT) into
// an AAC file and reports the input level while it records. Stops when standard input ends or
// SIGINT or SIGTERM arrives.
#include <csignal>
#include <cstdlib>
#include <string>
#include <vector>

#include "clock.h"
#include "linux/linux-audio.h"
#include "main-loop.h"
#include "mic-process.h"
#include "stop-signals.h"

using namespace pelko;
using namespace pelko::mic;

int main(int argc, char** argv) {
    // A reader that goes away must not end the recording halfway through the file: status
    // lines written to nobody are lost, the recording goes on until it is stopped.
    std::signal(SIGPIPE, SIG_IGN);

    RealClock clock;
    MainLoop mainLoop(clock);
    auto audio = ffmpeg::makeLinuxAudio(
        clock, ffmpeg::linuxAudioOptions(std::getenv(ffmpeg::inputVariable),
                                         std::getenv(ffmpeg::accessVariable)));

    // Status lines are written straight to the descriptor, so ending at once loses nothing;
    // it also keeps the other threads from running on into the teardown of what they use.
    Platform platform{
        *audio,
        clock,
        mainLoop,
        0,
        1,
        [&mainLoop](std::function<void()> handler) {
            watchStopSignals(mainLoop, std::move(handler));
        },
        [](int status) { std::_Exit(status); },
    };
    MicProcess process(platform, std::vector<std::string>(argv, argv + argc));
    runMic(process);
    std::_Exit(exitDone);
}

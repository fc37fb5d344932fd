// pelko-phone: lists wired iPhones and their screens, asks for camera access, streams a phone's
// screen as framed JPEG pictures, draws contact sheets of videos and puts pictures on the
// clipboard. Capture devices come from the phone scene named by PELKO_PHONE_SCENE (none: a
// computer without capture devices); wired iPhones from the scene's list when it has one,
// otherwise from the computer's USB devices. Videos and pictures are read with FFmpeg. The
// pasteboard is the X11 clipboard, or the folder named by PELKO_PHONE_PASTEBOARD when it is set.
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>

#include "clock.h"
#include "data-files.h"
#include "installed.h"
#include "linux/linux-phone.h"
#include "main-loop.h"
#include "output.h"
#include "phone-process.h"
#include "sim/phone-scene.h"
#include "sim/sim-capture.h"

using namespace pelko;
using namespace pelko::phone;

int main(int argc, char** argv) {
    RealClock clock;
    MainLoop mainLoop(clock);

    sim::Scene scene;
    if (const char* path = std::getenv("PELKO_PHONE_SCENE"); path && *path) {
        try {
            // A path, or the bare name of a phone scene installed with the program.
            scene = sim::loadScene(
                dataFile(path, std::filesystem::path(installedDataFolder) / "phone-scenes", ".json"));
        } catch (const sim::SceneError& error) {
            log(2, std::string("the phone scene could not be read: ") + error.what());
            return 1;
        }
    }
    std::optional<std::filesystem::path> pasteboardFolder;
    if (const char* folder = std::getenv("PELKO_PHONE_PASTEBOARD"); folder && *folder) {
        pasteboardFolder = folder;
    }
    sim::SimPhone simulated = sim::makeSimPhone(std::move(scene), clock, pasteboardFolder);
    linux_backend::LinuxPhone computer = linux_backend::makeLinuxPhone(clock);
    UsbDevices& usb = simulated.usb ? *simulated.usb : *computer.usb;
    Pasteboard& pasteboard = simulated.pasteboard ? *simulated.pasteboard : *computer.pasteboard;

    // Every output is written unbuffered, so ending at once loses nothing; it also keeps the
    // other threads from running on into the teardown of what they use.
    Platform platform{*simulated.capture,
                      usb,
                      *computer.video,
                      *computer.images,
                      pasteboard,
                      clock,
                      mainLoop,
                      0,
                      1,
                      2,
                      [](int status) { std::_Exit(status); }};
    PhoneProcess process(platform, std::vector<std::string>(argv, argv + argc));
    runCommandLine(process);
    std::_Exit(0);
}

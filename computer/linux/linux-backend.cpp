#include "linux-backend.h"

namespace pelko::computer::linux_desktop {

LinuxBackend::LinuxBackend(Clock& clock, MainLoop& mainLoop, std::unique_ptr<AtspiClient> atspi,
                           DisplayPtr desktopDisplay, DisplayPtr eventsDisplay,
                           DisplayPtr panelsDisplay, DisplayPtr captureDisplay)
    : client(std::move(atspi)),
      x11(std::move(desktopDisplay)),
      posted(clock),
      accessibility(*client, x11, clock, changes),
      workspace(*client, x11, clock),
      events(std::move(eventsDisplay), x11, posted, changes),
      panels(std::move(panelsDisplay), x11),
      screenCapture(std::move(captureDisplay), x11, clock),
      application(mainLoop, posted),
      platform{clock,         mainLoop,  application, accessibility,
               screenCapture, workspace, events,      panels} {}

std::unique_ptr<LinuxBackend> makeLinuxDesktop(Clock& clock, MainLoop& mainLoop) {
    std::string error;
    // Each part that may run on its own thread has a connection of its own.
    DisplayPtr desktop = openDisplay(error);
    if (!desktop) throw DesktopUnavailable(error);
    DisplayPtr events = openDisplay(error);
    DisplayPtr panels = events ? openDisplay(error) : nullptr;
    DisplayPtr capture = panels ? openDisplay(error) : nullptr;
    if (!capture) throw DesktopUnavailable(error);
    auto client = AtspiClient::connect(error);
    if (!client) throw DesktopUnavailable("no accessibility bus: " + error);
    if (!client->answers())
        throw DesktopUnavailable("the accessibility bus has no registry (at-spi2-registryd)");
    return std::make_unique<LinuxBackend>(clock, mainLoop, std::move(client), std::move(desktop),
                                          std::move(events), std::move(panels), std::move(capture));
}

}  // namespace pelko::computer::linux_desktop

#include "banner.h"

#include "computer.h"
#include "input-events.h"
#include "method.h"

namespace pelko::computer {
namespace {

constexpr uint16_t escapeKeyCode = 53;

}  // namespace

JSON banner(Computer& computer, const JSON& params) {
    const bool show = param<bool>(params, "show").value_or(false);
    const std::string text = param<std::string>(params, "text").value_or(defaultBannerText);
    onMain(computer.platform.mainLoop, [&] {
        if (show)
            computer.overlay.show(text);
        else
            computer.overlay.hide();
    });
    return {{"ok", true}};
}

void escapeMonitor(Computer& computer, const KeyDown& key) {
    if (key.keyCode != escapeKeyCode) return;
    if (!computer.overlay.shown()) return;
    if (key.sourceUserData == ownEventMark) return;
    computer.output.emit({{"event", "stop"}});
}

void installEscapeMonitor(Computer& computer) {
    computer.platform.application.addGlobalKeyDownMonitor(
        [&computer](const KeyDown& key) { escapeMonitor(computer, key); });
}

}  // namespace pelko::computer

#include "overlay.h"

#include "request-loop.h"

namespace pelko::computer {

void Overlay::show(const std::string&) {
    // Visible before anything is drawn: Escape is armed even when no panel can be shown.
    shown_ = true;
}

void Overlay::hide() {
    shown_ = false;
}

Json banner(Computer& computer, const Json& params) {
    const bool show = param<bool>(params, "show").value_or(false);
    const std::string text =
        param<std::string>(params, "text").value_or("Pelko is using your computer · Esc to stop");
    computer.platform.mainLoop.onMain([&] {
        if (show)
            computer.overlay.show(text);
        else
            computer.overlay.hide();
    });
    return {{"ok", true}};
}

}  // namespace pelko::computer

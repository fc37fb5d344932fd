#include "sessions.h"

#include "ax-readers.h"
#include "method.h"

namespace pelko::computer {

const std::set<std::string> climbingRoles = {"AXStaticText", "AXImage", "AXCell", "AXGroup",
                                             "AXUnknown"};

AppSession& Sessions::session(pid_t pid) {
    auto& slot = sessions_[pid];
    if (!slot) slot = std::make_unique<AppSession>(pid);
    return *slot;
}

AppSession* Sessions::find(pid_t pid) {
    const auto found = sessions_.find(pid);
    return found == sessions_.end() ? nullptr : found->second.get();
}

Element element(Accessibility& ax, Sessions& sessions, const RunningApp& app, int64_t index) {
    const AppSession* session = sessions.find(app.pid);
    const auto found =
        session ? session->elements.find(index) : decltype(session->elements.end()){};
    if (!session || found == session->elements.end()) {
        const std::string name =
            app.localizedName && !app.localizedName->empty() ? *app.localizedName : "the app";
        throw Failure{"Element [" + std::to_string(index) + "] is not in the latest state of " +
                          name + ". Read the app's state again and use an index from it.",
                      "stale"};
    }
    // Probe the element once: an invalid element means the app has redrawn its window.
    if (isGone(ax, found->second)) {
        throw Failure{"Element [" + std::to_string(index) +
                          "] is gone (the app redrew its window). Read the app's state again.",
                      "stale"};
    }
    return found->second;
}

}  // namespace pelko::computer

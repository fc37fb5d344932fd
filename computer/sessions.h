// Element sessions: per app process, the numbered elements of its latest outline, so that a
// later request can name element [12] and reach exactly that element.
#pragma once

#include <sys/types.h>

#include <map>
#include <memory>
#include <set>
#include <string>

#include "platform/platform.h"

namespace pelko::computer {

/// A whole-window read whose session has passed this index numbers from 1 again.
constexpr int64_t lastIndex = 90000;
/// After a region read a session keeps at most this many elements, the highest indexes.
constexpr size_t maxKeptElements = 5000;
/// Roles from which a press may climb to an ancestor that can be pressed.
extern const std::set<std::string> climbingRoles;

/// One app process's numbered elements and the marks the state reader keeps for it.
class AppSession {
  public:
    explicit AppSession(pid_t pid) : pid(pid) {}

    const pid_t pid;
    /// The numbered elements the agent may name.
    std::map<int64_t, Element> elements;
    /// The window the last whole-window read wrote.
    Element window;
    /// The index the next numbered element receives.
    int64_t next = 1;
    /// The window whose last read had to fall back to the overview and cut something.
    Element denseWindow;
    /// The part last read on its own inside the dense window.
    Element region;

    // The state reader's one-time steps already taken for this app process; once set, a mark
    // stays set while the program runs.
    /// The manual accessibility switch was tried.
    bool askedTree = false;
    /// That switch was accepted.
    bool tookManualSwitch = false;
    /// Its first window read has been tested for an empty web page.
    bool waitedForPage = false;
    /// The enhanced user interface switch was considered.
    bool askedEnhanced = false;
};

/// Sessions by process identifier; entries are created on demand and never removed. Used only
/// from the request work queue.
class Sessions {
  public:
    /// The session of `pid`, created empty when there is none.
    AppSession& session(pid_t pid);
    /// The session of `pid`, or null when the app was never read.
    AppSession* find(pid_t pid);

  private:
    std::map<pid_t, std::unique_ptr<AppSession>> sessions_;
};

/// The element numbered `index` in the app's latest state; throws the "stale" failures when
/// the index is not there or its element is gone.
Element element(Accessibility& ax, Sessions& sessions, const RunningApp& app, int64_t index);

}  // namespace pelko::computer

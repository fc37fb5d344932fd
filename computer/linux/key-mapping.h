// Keys between the seam and X: the seam names keys by the virtual key codes of the standard
// ANSI layout and modifiers by event flags; X names them by keysyms. Also the record of the
// keys this process posted, through which the Escape monitor tells them from the user's.
#pragma once

#include <X11/X.h>

#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "clock.h"
#include "platform/events.h"

namespace pelko::computer::linux_desktop {

/// The keysym of a virtual key code; nothing for a code no key of the layout has.
std::optional<KeySym> keysymOfKeyCode(uint16_t keyCode);
/// The virtual key code of a keysym (either case of a letter); nothing for keys outside the
/// table.
std::optional<uint16_t> keyCodeOfKeysym(KeySym keysym);

/// The modifier keys to hold for event flags, in the order they go down. Command and control
/// both hold Control, the key Linux shortcuts use; alternate holds Alt; the secondary
/// function flag has no key.
std::vector<KeySym> modifierKeysyms(EventFlags flags);

/// The keysym that types one Unicode scalar: Latin-1 characters are their own keysyms, tab,
/// return and backspace have theirs, everything else the Unicode keysym range.
KeySym keysymOfScalar(char32_t scalar);

/// The keys this process posted and the mark each carried, kept for a second, so that a
/// key the X server reports later can be told from the user's: the first posted press of the
/// same key code that has not been matched yet claims it. Used from the posting thread and the
/// monitor's thread.
class PostedKeys {
  public:
    explicit PostedKeys(Clock& clock) : clock_(clock) {}
    /// Records a posted press of X key code `keycode` carrying `mark`.
    void record(unsigned keycode, int64_t mark);
    /// The mark of the posted press that a reported press of `keycode` is, which is then
    /// forgotten; nothing when no posted press matches (the user pressed it).
    std::optional<int64_t> claim(unsigned keycode);

  private:
    struct Posted {
        unsigned keycode;
        int64_t mark;
        Instant at;
    };
    void forgetOld();
    Clock& clock_;
    std::mutex mutex_;
    std::deque<Posted> posted_;
};

/// How long a posted press waits to be reported before it is forgotten: the server reports
/// within milliseconds, and a record kept longer could swallow a press of the user.
constexpr Duration postedKeyLifetime = std::chrono::seconds(1);

}  // namespace pelko::computer::linux_desktop

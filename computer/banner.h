// The "banner" method and the Escape stop it arms: what the requests and the key monitor do
// with the process's one overlay.
#pragma once

#include "json-line.h"
#include "platform/platform.h"

namespace pelko::computer {

struct Computer;

/// The "banner" method (runs on `uiWork`): shows the banner (`show` true, with `text`) or
/// hides it; {"ok": true}.
JSON banner(Computer& computer, const JSON& params);

/// The Escape monitor: writes {"event": "stop"} for a key-down of Escape (53) while the
/// banner is shown, unless the event carries `ownEventMark`. Runs on the main thread.
void escapeMonitor(Computer& computer, const KeyDown& key);

/// Installs `escapeMonitor` as the global key-down monitor; a failure to install is ignored.
void installEscapeMonitor(Computer& computer);

}  // namespace pelko::computer

// The `stream` command: waiting for the phone's screen, building and starting the capture
// pipeline, and turning the system's reports into stop causes of the stream's session.
#pragma once

#include <string>

#include "phone-streamer.h"
#include "platform/platform.h"

namespace pelko::phone {

/// The `stream` command for the screen device `uniqueId`; ends the process.
void runStream(Platform& platform, const std::string& uniqueId, const StreamOptions& options);

}  // namespace pelko::phone

// What the tests of the apps people use share: opening an app as the agent does (through
// `resolve` with launch, or by waiting for an app the test started itself), and the pages the
// browsers open. Each family of apps runs in a desktop session of its own (see CMakeLists).
#pragma once

#include <string>

#include "desktop-session.h"

namespace pelko::computer::testing {

/// Why the app whose program is `program` cannot run here ("" when it can): not installed.
std::string missingProgram(const std::string& program);
/// Skips the test, saying why, when there is no desktop or the app's program is missing.
#define SKIP_WITHOUT_APP(program)                                                            \
    do {                                                                                     \
        SKIP_WITHOUT_DESKTOP();                                                              \
        if (const std::string missing = ::pelko::computer::testing::missingProgram(program); \
            !missing.empty())                                                                \
            GTEST_SKIP() << missing;                                                         \
    } while (false)

/// Opens `app` as the agent does (`resolve` with launch) and returns its description. An app
/// slow to start on a loaded machine may outlast the open wait; it is then asked for again
/// until it is running.
JSON openApp(DesktopComputer& computer, const std::string& app);
/// Waits until `app`, started by the test, is running and has a window; its description
/// (null when it never came).
JSON awaitApp(DesktopComputer& computer, const std::string& app);

/// The file URL of a test page (computer/tests/pages).
std::string pageURL(const std::string& name);

/// Writes a page titled "Long page" of `paragraphs` paragraphs, each with a link ("link number
/// N") inside it, into `folder`; its file URL.
std::string writeLongPage(const std::string& folder, int paragraphs);
/// A browser showing that page: its outline holds what is on screen (the first link, not the
/// last), and after the End key the page's end, whose last link takes a press.
void readLongPage(DesktopComputer& computer, const std::string& app, int paragraphs);

}  // namespace pelko::computer::testing

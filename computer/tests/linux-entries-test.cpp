// Installed apps from desktop entries, and keys between the seam and X (with the record of the
// keys this process posted).
// GoogleTest comes before the X headers, whose macros (None, Bool) clash with its names.
#include <gtest/gtest.h>
// clang-format off
#include <X11/keysym.h>
// clang-format on

#include <filesystem>

#include "child-process.h"
#include "linux/desktop-entries.h"
#include "linux/key-mapping.h"
#include "linux/window-system.h"

namespace pelko::computer::linux_desktop {
namespace {

using pelko::testing::ScopedTempDir;
using pelko::testing::writeFile;

TEST(LinuxEntries, AnEntryIsReadFromItsDesktopEntryGroup) {
    const auto entry = parseDesktopEntry(R"([Desktop Entry]
# a comment
Type=Application
Name=Text Editor
Name[de]=Texteditor
Name[de_AT]=Texteditor (AT)
Exec=editor --new-window %U
Icon=org.x.editor
NoDisplay=true
Name=Ignored, the first one counts
Comment=A line\swith escapes\n

[Desktop Action new]
Name=New Window
Exec=editor --other
)",
                                         {"de_AT", "de"});
    ASSERT_TRUE(entry);
    EXPECT_EQ(entry->name, "Text Editor");
    EXPECT_EQ(entry->localizedName, "Texteditor (AT)") << "the most specific language wins";
    EXPECT_EQ(entry->exec, "editor --new-window %U") << "the action's Exec is not the app's";
    EXPECT_EQ(entry->icon, "org.x.editor");
    EXPECT_TRUE(entry->noDisplay);

    EXPECT_EQ(parseDesktopEntry("[Desktop Entry]\nType=Link\nName=Site\n", {}), std::nullopt);
    EXPECT_EQ(parseDesktopEntry("Type=Application\nName=No group\n", {}), std::nullopt);
    EXPECT_EQ(
        parseDesktopEntry("[Desktop Entry]\nType=Application\nName=X\n", {"fr"})->localizedName,
        std::nullopt);
}

TEST(LinuxEntries, CommandLinesLoseFileCodesAndKeepQuoting) {
    DesktopEntry entry;
    entry.name = "Viewer";
    entry.icon = "viewer";
    entry.path = "/usr/share/applications/viewer.desktop";
    entry.exec = R"(viewer --title "%c's \"best\"" %i %F --literal=100%% %k)";
    EXPECT_EQ(execArguments(entry),
              (std::vector<std::string>{"viewer", "--title", "Viewer's \"best\"", "--icon",
                                        "viewer", "--literal=100%", entry.path}));
    entry.exec = "env GDK_BACKEND=x11 LANG=C /opt/viewer/bin/viewer %u";
    EXPECT_EQ(programName(entry), "viewer");
    entry.exec = "/usr/bin/python3 -O /usr/share/viewer/viewer.py";
    EXPECT_EQ(programName(entry), "viewer.py") << "an interpreter's script";
    entry.exec = "";
    EXPECT_EQ(programName(entry), "");
}

TEST(LinuxEntries, InstalledEntriesTakeTheFirstOfEachIdFolderByFolder) {
    ScopedTempDir dir;
    const auto home = dir / "home", system = dir / "system";
    std::filesystem::create_directories(home);
    std::filesystem::create_directories(system / "gnome");
    writeFile(home / "org.x.editor.desktop",
              "[Desktop Entry]\nType=Application\nName=My Editor\nExec=my-editor\n");
    writeFile(system / "org.x.editor.desktop",
              "[Desktop Entry]\nType=Application\nName=Editor\nExec=editor\n");
    writeFile(system / "gnome" / "paint.desktop",
              "[Desktop Entry]\nType=Application\nName=Paint\nExec=paint\n");
    writeFile(home / "gone.desktop", "[Desktop Entry]\nType=Application\nName=Gone\nHidden=true\n");
    writeFile(system / "gone.desktop", "[Desktop Entry]\nType=Application\nName=Gone\nExec=gone\n");
    writeFile(system / "notes.txt", "not an entry");
    const auto entries = installedEntries({home.string(), system.string()}, {});
    std::vector<std::string> seen;
    for (const auto& entry : entries) seen.push_back(entry.id + "=" + entry.name);
    EXPECT_EQ(seen, (std::vector<std::string>{"org.x.editor=My Editor", "gnome-paint=Paint"}))
        << "a user's entry overrides the system's, a hidden one deletes it, a subfolder joins the "
           "id with a dash";

    const auto found = entryAt((system / "gnome" / "paint.desktop").string(),
                               {home.string(), system.string()}, {});
    ASSERT_TRUE(found);
    EXPECT_EQ(found->id, "gnome-paint");
    const auto elsewhere = entryAt((home / "org.x.editor.desktop").string(), {}, {});
    ASSERT_TRUE(elsewhere);
    EXPECT_EQ(elsewhere->id, "org.x.editor") << "outside the folders: the file name";
    EXPECT_EQ(entryAt((system / "notes.txt").string(), {}, {}), std::nullopt);
}

TEST(LinuxEntries, ARunningProcessFindsItsEntry) {
    auto entry = [](std::string id, std::string exec, std::string wmClass = "",
                    bool noDisplay = false) {
        DesktopEntry made;
        made.id = std::move(id);
        made.exec = std::move(exec);
        made.startupWMClass = std::move(wmClass);
        made.noDisplay = noDisplay;
        return made;
    };
    const std::vector<DesktopEntry> entries = {
        entry("org.x.editor-settings", "editor --preferences"),
        entry("org.x.editor", "editor %U"),
        entry("org.x.viewer", "/usr/bin/python3 /usr/share/viewer/viewer.py", "Viewer"),
        entry("org.x.Tool", "launch-tool"),
        entry("helper", "helper", "", true),
        entry("helper-shown", "helper --run"),
    };
    auto idOf = [&](ProcessNames names) {
        const DesktopEntry* found = entryForProcess(entries, names);
        return found ? found->id : "none";
    };
    EXPECT_EQ(idOf({"editor", {"editor"}, "Editor"}), "org.x.editor")
        << "the plain entry wins over the settings entry of the same program";
    EXPECT_EQ(idOf({"python3.11", {"python3", "viewer.py"}, "viewer"}), "org.x.viewer")
        << "by the window class the entry names";
    EXPECT_EQ(idOf({"python3.11", {"python3", "viewer.py"}, ""}), "org.x.viewer")
        << "a script goes by its own name";
    EXPECT_EQ(idOf({"python3.11", {"python3", "other.py"}, ""}), "none")
        << "the interpreter is not the app";
    EXPECT_EQ(idOf({"tool-bin", {}, "org.x.tool"}), "org.x.Tool") << "by an id like the class";
    EXPECT_EQ(idOf({"helper", {}, ""}), "helper-shown") << "a displayed entry wins";
    EXPECT_EQ(idOf({"other", {}, ""}), "none");
}

TEST(LinuxKeys, KeyCodesAndKeysymsBothWays) {
    EXPECT_EQ(keysymOfKeyCode(53), static_cast<KeySym>(XK_Escape));
    EXPECT_EQ(keysymOfKeyCode(36), static_cast<KeySym>(XK_Return));
    EXPECT_EQ(keysymOfKeyCode(51), static_cast<KeySym>(XK_BackSpace)) << "delete is backspace";
    EXPECT_EQ(keysymOfKeyCode(117), static_cast<KeySym>(XK_Delete));
    EXPECT_EQ(keysymOfKeyCode(1), static_cast<KeySym>(XK_s));
    EXPECT_EQ(keysymOfKeyCode(96), static_cast<KeySym>(XK_F5));
    EXPECT_EQ(keysymOfKeyCode(200), std::nullopt);
    EXPECT_EQ(keyCodeOfKeysym(XK_Escape), 53);
    EXPECT_EQ(keyCodeOfKeysym(XK_S), 1) << "either case";
    EXPECT_EQ(keyCodeOfKeysym(XK_KP_Enter), 36);
    EXPECT_EQ(keyCodeOfKeysym(XK_Shift_L), std::nullopt);

    EXPECT_EQ(modifierKeysyms(eventFlagCommand | eventFlagShift),
              (std::vector<KeySym>{XK_Control_L, XK_Shift_L}));
    EXPECT_EQ(modifierKeysyms(eventFlagControl | eventFlagCommand),
              (std::vector<KeySym>{XK_Control_L}))
        << "command and control hold the same key";
    EXPECT_EQ(modifierKeysyms(eventFlagAlternate | eventFlagSecondaryFn),
              (std::vector<KeySym>{XK_Alt_L}));

    EXPECT_EQ(keysymOfScalar(U'a'), static_cast<KeySym>(XK_a));
    EXPECT_EQ(keysymOfScalar(U'é'), static_cast<KeySym>(XK_eacute));
    EXPECT_EQ(keysymOfScalar(U'\n'), static_cast<KeySym>(XK_Return));
    EXPECT_EQ(keysymOfScalar(U'€'), 0x010020ACu);
    EXPECT_EQ(keysymOfScalar(U'😀'), 0x0101F600u);
}

TEST(LinuxKeys, PostedPressesAreClaimedOnceInOrderAndForgottenAfterASecond) {
    VirtualClock clock;
    PostedKeys posted(clock);
    posted.record(9, 0x50454C4B);
    posted.record(38, 7);
    posted.record(9, 8);
    EXPECT_EQ(posted.claim(9), 0x50454C4B);
    EXPECT_EQ(posted.claim(9), 8);
    EXPECT_EQ(posted.claim(9), std::nullopt) << "the user's own press of the same key";
    posted.record(9, 5);
    clock.advance(std::chrono::milliseconds(1100));
    EXPECT_EQ(posted.claim(9), std::nullopt)
        << "a press the server never reported must not swallow a later one of the user";
    EXPECT_EQ(posted.claim(38), std::nullopt);
}

TEST(LinuxEntries, LanguageTagsComeFromTheLocaleMostSpecificFirst) {
    const char* saved[3] = {std::getenv("LC_ALL"), std::getenv("LC_MESSAGES"), std::getenv("LANG")};
    const std::string kept[3] = {saved[0] ? saved[0] : "", saved[1] ? saved[1] : "",
                                 saved[2] ? saved[2] : ""};
    unsetenv("LC_ALL");
    unsetenv("LC_MESSAGES");
    setenv("LANG", "de_AT.UTF-8@euro", 1);
    EXPECT_EQ(localeTags(), (std::vector<std::string>{"de_AT", "de"}));
    setenv("LC_MESSAGES", "fr.UTF-8", 1);
    EXPECT_EQ(localeTags(), (std::vector<std::string>{"fr"}));
    setenv("LC_ALL", "C.UTF-8", 1);
    EXPECT_EQ(localeTags(), std::vector<std::string>{}) << "the C locale has no names of its own";
    const char* names[3] = {"LC_ALL", "LC_MESSAGES", "LANG"};
    for (int i = 0; i < 3; ++i) {
        if (saved[i])
            setenv(names[i], kept[i].c_str(), 1);
        else
            unsetenv(names[i]);
    }
}

TEST(LinuxWindows, TheWindowOfAnObjectIsItsProcesssNearestTheFrameTopmostAmongEquals) {
    const std::vector<WindowInfo> windows = {
        {1, 10, "Editor", "Editor", {{0, 0}, {800, 600}}},
        {2, 20, "Other", "Other", {{100, 100}, {800, 600}}},
        {3, 10, "Find", "Editor", {{100, 100}, {300, 200}}},
        {4, 10, "Copy", "Editor", {{0, 0}, {800, 600}}},
    };
    EXPECT_EQ(windowOf(windows, 10, Rect{{98, 103}, {300, 200}})->id, 3u);
    EXPECT_EQ(windowOf(windows, 10, Rect{{0, 0}, {800, 600}})->id, 4u)
        << "of two alike, the one higher in the stacking order";
    EXPECT_EQ(windowOf(windows, 10, std::nullopt)->id, 4u) << "without a frame, the topmost";
    EXPECT_EQ(windowOf(windows, 30, std::nullopt), std::nullopt);
}

}  // namespace
}  // namespace pelko::computer::linux_desktop

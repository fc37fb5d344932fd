// Installed applications as the XDG desktop entries describe them ("*.desktop" files in the
// "applications" folders of the data directories): names, the command line, the icon, and the
// desktop-file id that stands for the app's identifier.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace pelko::computer::linux_desktop {

struct DesktopEntry {
    /// The desktop-file id without ".desktop" ("org.xfce.mousepad"; a file in a subfolder has
    /// the folder joined with "-").
    std::string id;
    std::string path;
    std::string name;
    /// "Name[xx]" for the user's language, when the entry has it.
    std::optional<std::string> localizedName;
    std::string exec;
    std::string tryExec;
    std::string icon;
    std::string startupWMClass;
    bool noDisplay = false;
    /// "Hidden=true": the entry is deleted; it only masks entries of the same id further down.
    bool hidden = false;
    bool terminal = false;
};

/// The "applications" folders in the order they are searched: $XDG_DATA_HOME (default
/// ~/.local/share), then each of $XDG_DATA_DIRS (default /usr/local/share:/usr/share).
std::vector<std::string> applicationFolders();

/// The language tags tried for localized names, best first ("de_DE", "de"), from LC_ALL,
/// LC_MESSAGES or LANG.
std::vector<std::string> localeTags();

/// Parses the "[Desktop Entry]" group of an entry's text; nothing when it has none or it is
/// not an application.
std::optional<DesktopEntry> parseDesktopEntry(const std::string& text,
                                              const std::vector<std::string>& locales);

/// Every application entry of `folders` (subfolders included), the first of each id winning;
/// hidden entries are left out, entries that ask not to be displayed are kept.
std::vector<DesktopEntry> installedEntries(const std::vector<std::string>& folders,
                                           const std::vector<std::string>& locales);

/// The entry at `path`; its id is the path below the applications folder that holds it, or the
/// file name without ".desktop".
std::optional<DesktopEntry> entryAt(const std::string& path,
                                    const std::vector<std::string>& folders,
                                    const std::vector<std::string>& locales);

/// The arguments of an "Exec" line: quoting undone, field codes for files and URLs dropped,
/// %i, %c and %k filled from the entry, %% kept as %.
std::vector<std::string> execArguments(const DesktopEntry& entry);

/// The file name of the program an entry starts ("mousepad"), or of the script it has an
/// interpreter run ("viewer.py"); empty when there is none.
std::string programName(const DesktopEntry& entry);
/// Whether a program's file name is a script interpreter's ("python3", "bash").
bool isInterpreter(const std::string& program);

/// What is known of a running process to match it with its entry.
struct ProcessNames {
    std::string executable;              ///< file name of /proc/PID/exe
    std::vector<std::string> arguments;  ///< file names of the first command-line arguments
    std::string windowClass;             ///< WM_CLASS of one of its windows (instance or class)
};
/// The entry of a running process: by the window class the entry names, then by the program
/// it starts; among several, an entry that is displayed and starts its program with no fixed
/// arguments wins. Nothing when none matches.
const DesktopEntry* entryForProcess(const std::vector<DesktopEntry>& entries,
                                    const ProcessNames& process);

}  // namespace pelko::computer::linux_desktop

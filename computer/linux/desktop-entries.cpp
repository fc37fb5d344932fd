#include "desktop-entries.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

namespace pelko::computer::linux_desktop {
namespace {

namespace fs = std::filesystem;

std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

std::string trim(std::string_view text) {
    const size_t begin = text.find_first_not_of(" \t\r");
    if (begin == std::string_view::npos) return "";
    const size_t end = text.find_last_not_of(" \t\r");
    return std::string(text.substr(begin, end - begin + 1));
}

std::string lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

// The escapes of string values: \s, \n, \t, \r and \\.
std::string unescape(std::string_view value) {
    std::string out;
    for (size_t i = 0; i < value.size(); ++i) {
        if (value[i] != '\\' || i + 1 == value.size()) {
            out += value[i];
            continue;
        }
        switch (value[++i]) {
            case 's':
                out += ' ';
                break;
            case 'n':
                out += '\n';
                break;
            case 't':
                out += '\t';
                break;
            case 'r':
                out += '\r';
                break;
            default:
                out += value[i];
                break;
        }
    }
    return out;
}

std::string readText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string baseName(std::string_view path) {
    const size_t slash = path.rfind('/');
    return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

// The id of an entry file below an applications folder: the relative path, "/" as "-".
std::optional<std::string> idBelow(const fs::path& folder, const fs::path& file) {
    std::error_code error;
    const fs::path relative = fs::relative(file, folder, error);
    if (error || relative.empty() || *relative.begin() == "..") return std::nullopt;
    std::string id = relative.generic_string();
    std::replace(id.begin(), id.end(), '/', '-');
    if (id.size() > 8 && id.ends_with(".desktop")) id.resize(id.size() - 8);
    return id;
}

}  // namespace

std::vector<std::string> applicationFolders() {
    std::vector<std::string> folders;
    std::string home = environment("XDG_DATA_HOME");
    if (home.empty() && !environment("HOME").empty()) home = environment("HOME") + "/.local/share";
    if (!home.empty()) folders.push_back(home + "/applications");
    std::string dirs = environment("XDG_DATA_DIRS");
    if (dirs.empty()) dirs = "/usr/local/share:/usr/share";
    std::stringstream list(dirs);
    for (std::string dir; std::getline(list, dir, ':');) {
        if (!dir.empty()) folders.push_back(dir + "/applications");
    }
    return folders;
}

std::vector<std::string> localeTags() {
    std::string locale = environment("LC_ALL");
    if (locale.empty()) locale = environment("LC_MESSAGES");
    if (locale.empty()) locale = environment("LANG");
    // "de_DE.UTF-8@euro": the encoding goes, the modifier is not used for names.
    locale = locale.substr(0, locale.find_first_of(".@"));
    if (locale.empty() || locale == "C" || locale == "POSIX") return {};
    std::vector<std::string> tags = {locale};
    if (const size_t underscore = locale.find('_'); underscore != std::string::npos)
        tags.push_back(locale.substr(0, underscore));
    return tags;
}

std::optional<DesktopEntry> parseDesktopEntry(const std::string& text,
                                              const std::vector<std::string>& locales) {
    std::map<std::string, std::string> keys;
    bool inEntry = false, sawEntry = false;
    std::stringstream lines(text);
    for (std::string raw; std::getline(lines, raw);) {
        const std::string line = trim(raw);
        if (line.empty() || line.front() == '#') continue;
        if (line.front() == '[') {
            inEntry = line == "[Desktop Entry]";
            sawEntry = sawEntry || inEntry;
            continue;
        }
        if (!inEntry) continue;
        const size_t equals = line.find('=');
        if (equals == std::string::npos) continue;
        // The first occurrence of a key counts.
        keys.emplace(trim(line.substr(0, equals)), trim(line.substr(equals + 1)));
    }
    if (!sawEntry) return std::nullopt;
    auto get = [&](const std::string& key) {
        const auto found = keys.find(key);
        return found == keys.end() ? std::string() : unescape(found->second);
    };
    if (get("Type") != "Application") return std::nullopt;
    DesktopEntry entry;
    entry.name = get("Name");
    for (const auto& tag : locales) {
        if (const auto found = keys.find("Name[" + tag + "]"); found != keys.end()) {
            entry.localizedName = unescape(found->second);
            break;
        }
    }
    entry.exec = get("Exec");
    entry.tryExec = get("TryExec");
    entry.icon = get("Icon");
    entry.startupWMClass = get("StartupWMClass");
    entry.noDisplay = get("NoDisplay") == "true";
    entry.hidden = get("Hidden") == "true";
    entry.terminal = get("Terminal") == "true";
    return entry;
}

std::vector<DesktopEntry> installedEntries(const std::vector<std::string>& folders,
                                           const std::vector<std::string>& locales) {
    std::vector<DesktopEntry> entries;
    std::set<std::string> seen;
    for (const auto& folder : folders) {
        std::error_code error;
        std::vector<fs::path> files;
        for (fs::recursive_directory_iterator it(folder, error), end; !error && it != end;
             it.increment(error)) {
            if (it->path().extension() == ".desktop") files.push_back(it->path());
        }
        std::sort(files.begin(), files.end());
        for (const auto& file : files) {
            const auto id = idBelow(folder, file);
            if (!id || !seen.insert(*id).second) continue;
            auto entry = parseDesktopEntry(readText(file.string()), locales);
            if (!entry || entry->hidden) continue;
            entry->id = *id;
            entry->path = file.string();
            entries.push_back(std::move(*entry));
        }
    }
    return entries;
}

std::optional<DesktopEntry> entryAt(const std::string& path,
                                    const std::vector<std::string>& folders,
                                    const std::vector<std::string>& locales) {
    std::error_code error;
    if (!fs::is_regular_file(path, error)) return std::nullopt;
    auto entry = parseDesktopEntry(readText(path), locales);
    if (!entry) return std::nullopt;
    entry->path = path;
    for (const auto& folder : folders) {
        if (auto id =
                idBelow(fs::weakly_canonical(folder, error), fs::weakly_canonical(path, error))) {
            entry->id = *id;
            return entry;
        }
    }
    entry->id = baseName(path);
    if (entry->id.ends_with(".desktop")) entry->id.resize(entry->id.size() - 8);
    return entry;
}

std::vector<std::string> execArguments(const DesktopEntry& entry) {
    // Split at blanks outside double quotes; inside them \" \` \$ \\ stand for the character.
    std::vector<std::string> words;
    std::string word;
    bool quoted = false, started = false;
    const std::string& exec = entry.exec;
    for (size_t i = 0; i < exec.size(); ++i) {
        const char c = exec[i];
        if (quoted) {
            if (c == '"') {
                quoted = false;
            } else if (c == '\\' && i + 1 < exec.size()) {
                word += exec[++i];
            } else {
                word += c;
            }
        } else if (c == '"') {
            quoted = started = true;
        } else if (c == ' ' || c == '\t') {
            if (started) words.push_back(std::move(word));
            word.clear();
            started = false;
        } else {
            word += c;
            started = true;
        }
    }
    if (started) words.push_back(std::move(word));

    std::vector<std::string> arguments;
    for (const auto& raw : words) {
        if (raw == "%i") {
            if (!entry.icon.empty()) {
                arguments.push_back("--icon");
                arguments.push_back(entry.icon);
            }
            continue;
        }
        std::string argument;
        bool dropped = false;
        for (size_t i = 0; i < raw.size(); ++i) {
            if (raw[i] != '%' || i + 1 == raw.size()) {
                argument += raw[i];
                continue;
            }
            switch (raw[++i]) {
                case '%':
                    argument += '%';
                    break;
                case 'c':
                    argument += entry.localizedName.value_or(entry.name);
                    break;
                case 'k':
                    argument += entry.path;
                    break;
                // Files and URLs: nothing is opened with the app, so they go.
                case 'f':
                case 'F':
                case 'u':
                case 'U':
                    dropped = true;
                    break;
                default:
                    break;  // deprecated codes are removed
            }
        }
        if (!(dropped && argument.empty())) arguments.push_back(std::move(argument));
    }
    return arguments;
}

bool isInterpreter(const std::string& program) {
    for (const char* name : {"python", "perl", "ruby", "node", "sh", "bash", "gjs", "java"}) {
        if (program.starts_with(name) &&
            program.find_first_not_of("0123456789.", std::string_view(name).size()) ==
                std::string::npos)
            return true;
    }
    return false;
}

std::string programName(const DesktopEntry& entry) {
    const auto arguments = execArguments(entry);
    // "env VAR=value program" starts program; an interpreter runs the script that follows its
    // options.
    size_t at = 0;
    if (!arguments.empty() && baseName(arguments[0]) == "env") {
        at = 1;
        while (at < arguments.size() && arguments[at].find('=') != std::string::npos) ++at;
    }
    if (at < arguments.size() && isInterpreter(baseName(arguments[at]))) {
        ++at;
        while (at < arguments.size() && arguments[at].starts_with("-")) ++at;
    }
    return at < arguments.size() ? baseName(arguments[at]) : "";
}

const DesktopEntry* entryForProcess(const std::vector<DesktopEntry>& entries,
                                    const ProcessNames& process) {
    const std::string windowClass = lower(process.windowClass);
    auto better = [](const DesktopEntry* current, const DesktopEntry& candidate) {
        if (!current) return true;
        // A displayed entry that starts the bare program beats a settings or helper entry.
        const auto plain = [](const DesktopEntry& entry) {
            return (entry.noDisplay ? 0 : 2) + (execArguments(entry).size() <= 1 ? 1 : 0);
        };
        return plain(candidate) > plain(*current);
    };
    const DesktopEntry* found = nullptr;
    if (!windowClass.empty()) {
        for (const auto& entry : entries) {
            if (!entry.startupWMClass.empty() && lower(entry.startupWMClass) == windowClass &&
                better(found, entry))
                found = &entry;
        }
        if (found) return found;
    }
    std::vector<std::string> names;
    if (!process.executable.empty()) names.push_back(process.executable);
    names.insert(names.end(), process.arguments.begin(), process.arguments.end());
    for (const auto& name : names) {
        for (const auto& entry : entries) {
            const std::string program = programName(entry);
            if (!program.empty() && program == name && better(found, entry)) found = &entry;
        }
        if (found) return found;
    }
    // An entry named after the window class ("org.gnome.Foo" for class "org.gnome.Foo").
    if (!windowClass.empty()) {
        for (const auto& entry : entries) {
            if (lower(entry.id) == windowClass && better(found, entry)) found = &entry;
        }
    }
    return found;
}

}  // namespace pelko::computer::linux_desktop

// pelko-docktile-host: plays the Dock for a Dock tile plug-in. It loads the plug-in from an
// application bundle, hands it a tile that is drawn to a PNG file, and relays the session's
// distributed notifications to it; it also plays the host application's side (storing the
// choice, posting the change notification) so the whole round can be run by hand.
#include <charconv>
#include <cmath>
#include <cstdio>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "bundle.h"
#include "host/plugin-loader.h"
#include "json-line.h"
#include "linux/linux-services.h"
#include "linux/png-dock-tile.h"
#include "plugin.h"

namespace {

using namespace pelko;
using namespace pelko::docktile;
namespace fs = std::filesystem;

constexpr const char* usage =
    "usage: pelko-docktile-host run APP-BUNDLE [--out FILE.png] [--size W[xH]] [--once]\n"
    "       pelko-docktile-host set BUNDLE-ID CHOICE\n"
    "       pelko-docktile-host post BUNDLE-ID [--icon CHOICE]\n";

/// A mistake on the command line: usage and status 2.
struct UsageError {};

void fail(const std::string& message) {
    std::cerr << "pelko-docktile-host: " << message << "\n";
}

/// One JSON line on standard output.
void emit(const JSON& line) {
    std::cout << compactJSON(line).value_or("{}") << "\n" << std::flush;
}

std::optional<int> parseDimension(std::string_view text) {
    int value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || value < 1 || value > 4096)
        return std::nullopt;
    return value;
}

/// "128" or "160x120".
Size parseSize(const std::string& text) {
    auto cross = text.find('x');
    auto width = parseDimension(std::string_view(text).substr(0, cross));
    auto height = cross == std::string::npos
                      ? width
                      : parseDimension(std::string_view(text).substr(cross + 1));
    if (!width || !height) throw UsageError{};
    return {static_cast<double>(*width), static_cast<double>(*height)};
}

/// The application's standard icon: CFBundleIconFile among its resources.
std::optional<fs::path> standardIcon(const Bundle& app) {
    auto name = app.infoString("CFBundleIconFile");
    if (!name) return std::nullopt;
    if (name->ends_with(".png")) name->resize(name->size() - 4);
    return app.imageResource(*name);
}

/// A length as JSON: an integer when it is whole.
JSON length(double value) {
    if (value == std::floor(value) && std::abs(value) < 1e15) return static_cast<int64_t>(value);
    return value;
}

JSON describe(const std::optional<ImageView>& view) {
    if (!view) return {{"event", "display"}, {"content", "standard"}};
    return {{"event", "display"},
            {"content", "image"},
            {"image", view->image.file.string()},
            {"frame",
             {length(view->frame.x), length(view->frame.y), length(view->frame.width),
              length(view->frame.height)}}};
}

int run(const std::vector<std::string>& args) {
    if (args.size() < 2) throw UsageError{};
    fs::path appPath = args[1];
    fs::path out = "dock-tile.png";
    Size size{128, 128};
    bool once = false;
    for (size_t i = 2; i < args.size(); ++i) {
        if (args[i] == "--once") {
            once = true;
        } else if (args[i] == "--out" && i + 1 < args.size()) {
            out = args[++i];
        } else if (args[i] == "--size" && i + 1 < args.size()) {
            size = parseSize(args[++i]);
        } else {
            throw UsageError{};
        }
    }

    auto app = Bundle::open(appPath);
    if (!app) {
        fail(appPath.string() + " is not an application bundle.");
        return 1;
    }
    RealClock clock;
    MainLoop loop(clock);
    loop.claimCurrentThread();
    auto services = makeLinuxServices(loop);
    if (!services->notifications.connected())
        fail("no session bus (" + services->notifications.connectError() +
             "); change notifications are not followed.");

    std::optional<LoadedPlugIn> loaded;
    try {
        Bundle plugInBundle = dockTilePlugInBundle(*app);
        loaded.emplace(plugInBundle, services->services());
        emit({{"event", "loaded"},
              {"plugIn", plugInBundle.url().string()},
              {"principalClass", loaded->principalClass()}});
    } catch (const LoadError& error) {
        fail(error.what());
        return 1;
    }

    auto tile = std::make_shared<PNGDockTile>(size, out, standardIcon(*app),
                                              [](const auto& view) { emit(describe(view)); });
    // Until the plug-in changes it, the Dock shows the application's standard icon.
    if (!tile->writePNG()) {
        fail("cannot write " + out.string() + ".");
        return 1;
    }
    loaded->plugIn().setDockTile(tile);
    emit({{"event", "tile"},
          {"size", {length(size.width), length(size.height)}},
          {"out", out.string()}});

    std::thread reader;
    if (once) {
        // Runs after the work the plug-in queued while taking the tile.
        loop.post([&loop] { loop.quit(); });
    } else {
        // Each line of standard input acts as the Dock: "withdraw" takes the tile back,
        // "tile" hands it over again; the end of input ends the host.
        reader = std::thread([&] {
            for (std::string line; std::getline(std::cin, line);) {
                loop.post([&, line] {
                    if (line == "withdraw") {
                        loaded->plugIn().setDockTile(nullptr);
                        emit({{"event", "withdrawn"}});
                    } else if (line == "tile") {
                        loaded->plugIn().setDockTile(tile);
                        emit({{"event", "tile"},
                              {"size", {length(size.width), length(size.height)}}});
                    } else if (!line.empty()) {
                        fail("unknown command \"" + line + "\" (withdraw, tile).");
                    }
                });
            }
            loop.post([&loop] { loop.quit(); });
        });
    }
    loop.run();
    if (reader.joinable()) reader.join();
    loaded->plugIn().setDockTile(nullptr);
    return 0;
}

int set(const std::vector<std::string>& args) {
    if (args.size() != 3) throw UsageError{};
    auto configHome = configHomeFromEnvironment();
    if (!configHome) {
        fail("neither XDG_CONFIG_HOME nor HOME is set.");
        return 1;
    }
    auto file = preferencesFile(*configHome, args[1]);
    if (!file) {
        fail("\"" + args[1] + "\" cannot name a preferences domain.");
        return 1;
    }
    if (!writePreference(*file, appIconKey, PropertyValue::string(args[2]))) {
        fail("cannot write " + file->string() + ".");
        return 1;
    }
    return 0;
}

int post(const std::vector<std::string>& args) {
    if (args.size() != 2 && !(args.size() == 4 && args[2] == "--icon")) throw UsageError{};
    Notification notification{args[1] + changeNotificationSuffix, std::nullopt, {}};
    if (args.size() == 4) notification.userInfo[iconKey] = PropertyValue::string(args[3]);
    RealClock clock;
    MainLoop loop(clock);  // never runs: this process only posts
    MainLoopQueue queue(loop);
    DBusNotificationCenter center(queue);
    if (!center.connected()) {
        fail("no session bus (" + center.connectError() + ").");
        return 1;
    }
    if (!center.post(notification, true)) {
        fail("the notification could not be posted.");
        return 1;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    try {
        if (!args.empty() && args[0] == "run") return run(args);
        if (!args.empty() && args[0] == "set") return set(args);
        if (!args.empty() && args[0] == "post") return post(args);
        throw UsageError{};
    } catch (const UsageError&) {
        std::cerr << usage;
        return 2;
    }
}

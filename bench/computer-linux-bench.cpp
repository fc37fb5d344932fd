// What one `state` read of a real application costs on the accessibility bus, against a naive
// reader that asks libatspi for every attribute of every object one call at a time. Prints
// figures; asserts nothing. Run inside a desktop session with the app running (see
// bench/computer-linux-bench.sh, which also measures dogtail on the same window).
//
//   pelko-computer-linux-bench [APP-NAME [RUNS [ATSPI-NAME]]]
//
// Defaults: the widget factory, 10 runs, the naive walk of the app the registry names
// "gtk3-widget-factory". ATSPI-NAME "none" leaves the naive walk out (a browser's page of
// thousands of objects takes minutes that way). The program waits for the app's window first,
// as the desktop tests do, for an app started just before it.
//
// D-Bus calls are counted twice where the call counter is preloaded (bench/dbus-call-counter):
// by the backend itself, and at libdbus for whatever library sends them.
#include <atspi/atspi.h>
#include <dlfcn.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include <thread>

#include "apps.h"
#include "computer.h"
#include "linux/linux-backend.h"
#include "method.h"
#include "state-reader.h"

namespace {

using namespace pelko;
using Seconds = std::chrono::duration<double>;

// The calls counted at libdbus, when the counter is preloaded; -1 otherwise.
long libdbusCalls() {
    static const auto counter = reinterpret_cast<long (*)()>(dlsym(RTLD_DEFAULT, "pelkoDBusCalls"));
    return counter ? counter() : -1;
}

// Ends the program at once (libatspi's and the backend's threads are not wound down), after the
// call counter, when preloaded, has said what it counted.
[[noreturn]] void finish() {
    std::fflush(stdout);
    if (const auto report =
            reinterpret_cast<void (*)()>(dlsym(RTLD_DEFAULT, "pelkoDBusCallsReport")))
        report();
    std::_Exit(0);
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

struct Figures {
    long calls = 0;
    long waits = -1;
    long libdbus = -1;
    long elements = 0;
    double seconds = 0;
};

void print(const char* name, const Figures& figures) {
    std::printf("  %-34s %6ld elements %7ld D-Bus calls", name, figures.elements, figures.calls);
    if (figures.waits >= 0)
        std::printf(" in %4ld waits", figures.waits);
    else
        std::printf("              ");
    if (figures.libdbus >= 0) std::printf("  (libdbus counted %ld)", figures.libdbus);
    std::printf("  %8.1f ms\n", figures.seconds * 1000);
}

// The naive reader: every attribute of every object of the window, one libatspi call at a time.
struct NaiveWalk {
    long elements = 0;
    void visit(AtspiAccessible* object) {
        ++elements;
        GError* error = nullptr;
        g_free(atspi_accessible_get_name(object, &error));
        g_clear_error(&error);
        atspi_accessible_get_role(object, &error);
        g_clear_error(&error);
        g_free(atspi_accessible_get_description(object, &error));
        g_clear_error(&error);
        if (AtspiStateSet* states = atspi_accessible_get_state_set(object)) g_object_unref(states);
        if (GHashTable* attributes = atspi_accessible_get_attributes(object, &error))
            g_hash_table_unref(attributes);
        g_clear_error(&error);
        if (GArray* interfaces = atspi_accessible_get_interfaces(object)) {
            for (guint i = 0; i < interfaces->len; ++i)
                g_free(g_array_index(interfaces, gchar*, i));
            g_array_free(interfaces, true);
        }
        if (AtspiComponent* component = atspi_accessible_get_component_iface(object)) {
            g_free(atspi_component_get_extents(component, ATSPI_COORD_TYPE_SCREEN, &error));
            g_clear_error(&error);
            g_object_unref(component);
        }
        if (AtspiText* text = atspi_accessible_get_text_iface(object)) {
            g_free(atspi_text_get_text(text, 0, -1, &error));
            g_clear_error(&error);
            g_object_unref(text);
        }
        if (AtspiValue* value = atspi_accessible_get_value_iface(object)) {
            atspi_value_get_current_value(value, &error);
            g_clear_error(&error);
            g_object_unref(value);
        }
        if (AtspiAction* action = atspi_accessible_get_action_iface(object)) {
            const gint count = atspi_action_get_n_actions(action, &error);
            g_clear_error(&error);
            for (gint i = 0; i < count; ++i) {
                g_free(atspi_action_get_action_name(action, i, &error));
                g_clear_error(&error);
            }
            g_object_unref(action);
        }
        const gint children = atspi_accessible_get_child_count(object, &error);
        g_clear_error(&error);
        for (gint i = 0; i < children; ++i) {
            AtspiAccessible* child = atspi_accessible_get_child_at_index(object, i, &error);
            g_clear_error(&error);
            if (!child) continue;
            visit(child);
            g_object_unref(child);
        }
    }
};

// The application's first window as libatspi sees it; null when it is not there.
AtspiAccessible* atspiWindow(const std::string& appName, AtspiAccessible** app) {
    AtspiAccessible* desktop = atspi_get_desktop(0);
    GError* error = nullptr;
    const gint count = atspi_accessible_get_child_count(desktop, &error);
    g_clear_error(&error);
    AtspiAccessible* window = nullptr;
    for (gint i = 0; i < count && !window; ++i) {
        AtspiAccessible* candidate = atspi_accessible_get_child_at_index(desktop, i, &error);
        g_clear_error(&error);
        if (!candidate) continue;
        gchar* name = atspi_accessible_get_name(candidate, &error);
        g_clear_error(&error);
        if (name && appName == name) {
            window = atspi_accessible_get_child_at_index(candidate, 0, &error);
            g_clear_error(&error);
            *app = candidate;
        } else {
            g_object_unref(candidate);
        }
        g_free(name);
    }
    g_object_unref(desktop);
    return window;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string appName = argc > 1 ? argv[1] : "Widget Factory";
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 10;
    const std::string atspiName = argc > 3 ? argv[3] : argc > 1 ? argv[1] : "gtk3-widget-factory";

    RealClock clock;
    MainLoop mainLoop(clock);
    std::unique_ptr<computer::linux_desktop::LinuxBackend> backend;
    try {
        backend = computer::linux_desktop::makeLinuxDesktop(clock, mainLoop);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "computer-linux-bench: %s\n", error.what());
        return 1;
    }
    computer::Computer computer(backend->platform, stdout);

    // One state read as the program does it: resolving the app, its windows and menus, and the
    // outline of its window. Each run starts from a fresh bulk read.
    auto readOnce = [&](Figures& figures) {
        backend->accessibility.forgetTrees();
        const auto before = backend->accessibility.traffic();
        const long libdbusBefore = libdbusCalls();
        const auto start = std::chrono::steady_clock::now();
        const JSON result =
            computer::readState(computer, appName, std::nullopt, 12000, false, std::nullopt, false);
        figures.seconds = Seconds(std::chrono::steady_clock::now() - start).count();
        const auto after = backend->accessibility.traffic();
        figures.calls = after.calls - before.calls;
        figures.waits = after.waits - before.waits;
        figures.libdbus = libdbusBefore < 0 ? -1 : libdbusCalls() - libdbusBefore;
        figures.elements = result.value("count", 0);
    };
    // The app may have been started just before: wait (up to a minute) until it is registered
    // and shows a window, without reading its tree, so that the first read below is the first.
    bool ready = false;
    for (int attempt = 0; attempt < 240 && !ready; ++attempt) {
        if (attempt > 0) std::this_thread::sleep_for(std::chrono::milliseconds(250));
        try {
            const auto app = computer::resolveApp(backend->platform, appName, false);
            auto& accessibility = backend->platform.accessibility;
            const auto windows =
                accessibility.copyAttribute(accessibility.applicationElement(app.pid), "AXWindows");
            const auto* list = windows.value.as<computer::Value::List>();
            ready = windows.error == 0 && list && !list->empty();
        } catch (const computer::Failure&) {
        }
    }
    if (!ready) {
        std::fprintf(stderr, "computer-linux-bench: %s shows no window\n", appName.c_str());
        return 1;
    }
    std::printf("One state read of %s's window (%d runs; the median, then the first read):\n",
                appName.c_str(), runs);
    Figures first, warm;
    std::vector<double> times;
    try {
        readOnce(first);
    } catch (const computer::Failure& failure) {
        std::fprintf(stderr, "computer-linux-bench: %s\n", failure.message.c_str());
        return 1;
    }
    for (int run = 0; run < runs; ++run) {
        readOnce(warm);
        times.push_back(warm.seconds);
    }
    warm.seconds = median(times);
    print("state, warm (bulk read, batches)", warm);
    print("state, first read of the app", first);
    if (atspiName == "none") finish();

    // The naive reader, with libatspi's own cache as it comes and with it off.
    AtspiAccessible* app = nullptr;
    if (atspi_init() < 0) return 1;
    AtspiAccessible* window = atspiWindow(atspiName, &app);
    if (!window) {
        std::fprintf(stderr, "computer-linux-bench: libatspi does not list %s\n",
                     atspiName.c_str());
        return 1;
    }
    for (const bool cacheOff : {false, true}) {
        if (cacheOff) atspi_accessible_set_cache_mask(app, ATSPI_CACHE_NONE);
        std::vector<double> walkTimes;
        Figures walk;
        for (int run = 0; run < runs; ++run) {
            atspi_accessible_clear_cache(app);
            const long libdbusBefore = libdbusCalls();
            const auto start = std::chrono::steady_clock::now();
            NaiveWalk walker;
            walker.visit(window);
            walkTimes.push_back(Seconds(std::chrono::steady_clock::now() - start).count());
            walk.elements = walker.elements;
            walk.calls = libdbusBefore < 0 ? -1 : libdbusCalls() - libdbusBefore;
        }
        walk.seconds = median(walkTimes);
        print(cacheOff ? "naive libatspi walk, cache off" : "naive libatspi walk", walk);
    }
    g_object_unref(window);
    g_object_unref(app);
    if (libdbusCalls() < 0)
        std::printf(
            "  (the libatspi walk's calls are counted with bench/dbus-call-counter "
            "preloaded: see bench/computer-linux-bench.sh)\n");
    finish();
}

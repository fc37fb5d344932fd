// What writing an outline costs in accessibility traffic, on big web-like windows of the
// simulated desktop. On the real platform every attribute read is a request to another process,
// so reads and round trips are the figures that matter; in-process wall time is printed too.
//
// Compares, in the same run, the tree writer with a naive writer that reads every attribute of
// every element it visits, one read at a time. Prints figures; asserts nothing.
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>

#include "ax-readers.h"
#include "sim/sim-desktop.h"
#include "tree-writer.h"

namespace pelko::computer {
namespace {

// The state reader's default character budget.
constexpr int64_t defaultChars = 12000;

// ---- the windows ----

struct Shape {
    const char* name;
    int sections;
    int wrappers;  // empty groups wrapped around each block (the "div soup" of web pages)
    bool stacked;  // sections carry frames stacked down a long page; only the top is visible
};

JSON wrapped(JSON element, int wrappers) {
    for (int i = 0; i < wrappers; ++i)
        element = {{"role", "AXGroup"}, {"children", JSON::array({element})}};
    return element;
}

JSON section(int s, const Shape& shape) {
    const std::string n = std::to_string(s);
    JSON kids = JSON::array();
    kids.push_back({{"role", "AXHeading"}, {"title", "Section " + n}});
    for (int p = 0; p < 4; ++p)
        kids.push_back(wrapped({{"role", "AXStaticText"},
                                {"value", "Paragraph " + std::to_string(p) + " of section " + n +
                                              ": some words that a page would say here."}},
                               shape.wrappers));
    JSON list = {{"role", "AXList"}, {"children", JSON::array()}};
    for (int i = 0; i < 12; ++i) {
        const std::string story = "Story " + n + "." + std::to_string(i);
        JSON link = {{"role", "AXLink"},
                     {"title", story},
                     {"actions", {"AXPress", "AXShowMenu", "AXScrollToVisible"}},
                     {"children", JSON::array({{{"role", "AXStaticText"}, {"value", story}}})}};
        list["children"].push_back(
            wrapped({{"role", "AXGroup"}, {"children", JSON::array({link})}}, shape.wrappers));
    }
    kids.push_back(list);
    kids.push_back({{"role", "AXButton"}, {"title", "Share"}, {"actions", {"AXPress"}}});
    kids.push_back({{"role", "AXButton"}, {"title", "Comment"}, {"actions", {"AXPress"}}});
    kids.push_back({{"role", "AXImage"}, {"description", "Picture " + n}});
    JSON group = {{"role", "AXGroup"}, {"children", kids}};
    if (shape.stacked) group["frame"] = {0, 80 + s * 400, 1280, 400};
    return wrapped(group, shape.wrappers);
}

JSON scene(const Shape& shape) {
    JSON web = {{"role", "AXWebArea"}, {"title", "Example News"}, {"children", JSON::array()}};
    for (int s = 0; s < shape.sections; ++s) web["children"].push_back(section(s, shape));
    JSON window = JSON::parse(R"({"id": "window", "role": "AXWindow", "title": "Example News",
      "frame": [0, 0, 1280, 800], "children": [
        {"role": "AXToolbar", "children": [
          {"role": "AXButton", "description": "Back"},
          {"role": "AXButton", "description": "Forward"},
          {"role": "AXTextField", "value": "https://news.example/"}]}]})");
    window["children"].push_back(web);
    return {{"apps", JSON::array({{{"name", "Browser"}, {"windows", JSON::array({window})}}})}};
}

long countElements(const JSON& element) {
    long count = 1;
    if (element.contains("children"))
        for (const auto& kid : element["children"]) count += countElements(kid);
    return count;
}

// ---- the naive writer ----
// It walks like the tree writer (same visibility rule, same budgets, no overview), but reads every
// attribute the outline rules could use, one request each, for every element it visits.

struct NaiveWriter {
    NaiveWriter(Accessibility& ax, int64_t maxChars, std::optional<Rect> bounds)
        : ax(ax), maxChars(maxChars), bounds(bounds) {}
    Accessibility& ax;
    int64_t maxChars;
    std::optional<Rect> bounds;
    std::vector<std::string> lines;
    int64_t chars = 0, visited = 0;
    bool truncated = false;

    void walk(const Element& element, int depth) {
        if (truncated) return;
        if (++visited > visitBudget || chars > maxChars) {
            truncated = true;
            return;
        }
        std::map<std::string, std::optional<Value>> values;
        for (const char* name :
             {"AXRole", "AXSubrole", "AXTitle", "AXDescription", "AXValue", "AXPlaceholderValue",
              "AXHelp", "AXFocused", "AXEnabled", "AXSelected", "AXExpanded", "AXHidden"})
            values[name] = attr(ax, element, name);
        const auto frame = frameOf(ax, element);
        const auto actions = actionsOf(ax, element);
        const auto kids = children(ax, element);
        const auto text = [&](const char* name) {
            const auto* s = values[name] ? values[name]->as<std::string>() : nullptr;
            return s && !s->empty() ? *s : std::string();
        };
        const std::string role = text("AXRole");
        const auto* hidden = values["AXHidden"] ? values["AXHidden"]->as<bool>() : nullptr;
        if ((hidden && *hidden) || skippedRoles.count(role)) return;
        if (frame && bounds && frame->size.width > 0 && frame->size.height > 0 &&
            !frame->intersects(*bounds))
            return;
        const bool hasText =
            !text("AXTitle").empty() || !text("AXDescription").empty() || !text("AXValue").empty();
        int below = depth;
        if (hasText || actionable.count(role)) {
            std::string line(2 * std::min(depth, indentationCap), ' ');
            line += "[" + std::to_string(lines.size() + 1) + "] " + role + " \"" +
                    clip(text("AXTitle") + text("AXDescription") + text("AXValue"), 120) + "\"";
            chars += static_cast<int64_t>(line.size()) + 1;
            lines.push_back(std::move(line));
            below = depth + 1;
        }
        for (const auto& kid : kids) walk(kid, below);
    }
};

// ---- measuring ----

using Wall = std::chrono::steady_clock;

struct Figures {
    std::string pass;
    long lines = 0, numbered = 0, examined = 0, chars = 0, reads = 0, trips = 0;
    double millis = 0;
    bool truncated = false;
};

void print(const Figures& f) {
    auto per = [](long a, long b) { return b ? static_cast<double>(a) / b : 0.0; };
    std::printf(
        "  %-22s lines %5ld  examined %5ld  reads %6ld  trips %6ld  reads/line %5.1f  "
        "trips/line %5.1f  reads/examined %4.1f  trips/examined %4.1f  chars/numbered %5.1f  "
        "%7.1f ms%s\n",
        f.pass.c_str(), f.lines, f.examined, f.reads, f.trips, per(f.reads, f.lines),
        per(f.trips, f.lines), per(f.reads, f.examined), per(f.trips, f.examined),
        per(f.chars, f.numbered), f.millis, f.truncated ? "  (truncated)" : "");
}

template <typename Pass>
Figures measure(sim::SimDesktop& desktop, const std::string& name, Pass&& pass) {
    const auto before = desktop.traffic();
    const auto start = Wall::now();
    Figures figures = pass();
    figures.millis = std::chrono::duration<double, std::milli>(Wall::now() - start).count();
    const auto after = desktop.traffic();
    figures.pass = name;
    figures.reads = after.attributeReads - before.attributeReads;
    figures.trips = after.roundTrips - before.roundTrips;
    return figures;
}

Figures ofWriter(const TreeWriter& writer) {
    Figures f;
    f.lines = static_cast<long>(writer.lines.size());
    f.numbered = static_cast<long>(writer.elements.size());
    f.examined = writer.visited;
    f.chars = writer.chars;
    f.truncated = writer.truncated;
    return f;
}

void run(const Shape& shape, RealClock& clock) {
    const JSON description = scene(shape);
    const long total = countElements(description["apps"][0]["windows"][0]);
    sim::SimDesktop desktop(clock, description);
    const Element window = desktop.elementNamed("window");
    const auto bounds = frameOf(desktop, window);
    std::printf("%s: %ld elements\n", shape.name, total);

    // The state reader's two passes, as `readTree` runs them, measured one by one.
    Figures full = measure(desktop, "writer, full pass", [&] {
        TreeWriter writer(desktop, clock, defaultChars, bounds, false, 1);
        writer.walk(window, 0, 0);
        return ofWriter(writer);
    });
    print(full);
    if (full.truncated) {
        print(measure(desktop, "writer, overview pass", [&] {
            TreeWriter writer(desktop, clock, defaultChars, bounds, true, 1);
            writer.walk(window, 0, 0);
            return ofWriter(writer);
        }));
    }
    print(measure(desktop, "naive, one pass", [&] {
        NaiveWriter naive(desktop, defaultChars, bounds);
        naive.walk(window, 0);
        Figures f;
        f.lines = f.numbered = static_cast<long>(naive.lines.size());
        f.examined = naive.visited;
        f.chars = naive.chars;
        f.truncated = naive.truncated;
        return f;
    }));
    std::printf("\n");
}

}  // namespace
}  // namespace pelko::computer

int main() {
    using namespace pelko::computer;
    pelko::RealClock clock;
    const Shape shapes[] = {
        {"dense web page (every block visible)", 500, 0, false},
        {"sparse web page (three empty wrappers per block)", 220, 3, false},
        {"long dense page, scrolled to the top", 500, 0, true},
    };
    for (const auto& shape : shapes) run(shape, clock);
}

// Menu paths chosen through the `menu` method in a generated menu bar of a simulated app in the
// background, and the loose form its titles and entries are matched in.
//
// Titles and entries are made of parts chosen so that they collide often: the same word in
// other cases, with "…" or "...", with blanks around, as the beginning of another, accented.
// The menus nest up to three levels, with separators (items without a title), disabled items
// and items that can be picked.
//
// What must hold: a loose title holds no capital ASCII letter, no "…" or "...", no blank at
// either end, and loosening it again changes nothing. The method chooses the item that a plain
// reading of the matching rule gives (at each level the first item whose loose title is the
// loose entry, else the first that begins with it), by "pick" when the item offers it and
// "press" otherwise, and acts on nothing else; it refuses a path holding a blank entry with
// "bad-input", names the entry that matches nothing or has no submenu with "not-found" and
// lists the level's titles, and calls a disabled item disabled.
#include <fuzzer/FuzzedDataProvider.h>

#include <string>
#include <vector>

#include "ax-readers.h"
#include "computer.h"
#include "fuzz-support.h"
#include "menus.h"
#include "method.h"
#include "request-loop.h"
#include "sim/sim-desktop.h"

namespace {

using namespace pelko;
using namespace pelko::computer;

[[noreturn]] void fault(const std::string& what, const JSON& scene, const JSON& path) {
    pelko::fuzzing::fault("menu-path", what, "path " + path.dump() + "\n  scene " + scene.dump());
}

const char* const titleParts[] = {
    "File", "file", "FILE", "Fi",  "Export", "Export\u2026", "Export...", " ",  "\t",
    "\u2026", "...", ".",   "..",  "\u00C9", "\u00E9",       "\u00DF",    "Save As", "save",
    "a",    "A",    "ab",   "Ab ", " a",
};

std::string makeTitle(FuzzedDataProvider& input) {
    std::string title;
    const size_t parts = input.ConsumeIntegralInRange<size_t>(0, 3);
    for (size_t i = 0; i < parts; ++i) title += input.PickValueInArray(titleParts);
    return title;
}

// One item of the model and of the scene; `id` names it in the scene.
struct Item {
    std::string id;
    std::string title;
    bool enabled = true;
    bool pickable = false;
    std::vector<Item> submenu;
    bool hasSubmenu = false;
};

std::vector<Item> makeLevel(FuzzedDataProvider& input, int depth, int& next) {
    std::vector<Item> level;
    const size_t count = input.ConsumeIntegralInRange<size_t>(depth == 0 ? 1 : 0, 5);
    for (size_t i = 0; i < count && input.remaining_bytes() > 0; ++i) {
        Item item;
        item.id = "item" + std::to_string(next++);
        item.title = makeTitle(input);
        item.enabled = input.ConsumeIntegralInRange<int>(0, 7) != 0;
        item.pickable = input.ConsumeBool();
        item.hasSubmenu = depth < 2 && input.ConsumeBool();
        if (item.hasSubmenu) item.submenu = makeLevel(input, depth + 1, next);
        level.push_back(std::move(item));
    }
    return level;
}

JSON sceneItem(const Item& item, bool inBar) {
    JSON entry = {{"id", item.id}, {"role", inBar ? "AXMenuBarItem" : "AXMenuItem"}};
    if (!item.title.empty()) entry["title"] = item.title;
    entry["enabled"] = item.enabled;
    const JSON pressed = {{{"do", "set"},
                           {"element", item.id},
                           {"attribute", "AXHelp"},
                           {"value", "chosen"}}};
    entry["actions"] = item.pickable ? JSON{"AXPick", "AXPress"} : JSON{"AXPress"};
    entry["onAction"] = {{"AXPress", pressed}, {"AXPick", pressed}};
    if (item.hasSubmenu) {
        JSON children = JSON::array();
        for (const Item& child : item.submenu) children.push_back(sceneItem(child, false));
        entry["children"] = {{{"role", "AXMenu"}, {"children", children}}};
    }
    return entry;
}

// The item a plain reading of the rule matches at one level, or none.
const Item* match(const std::vector<Item>& level, const std::string& entry) {
    const std::string want = loose(entry);
    for (const Item& item : level)
        if (loose(item.title) == want) return &item;
    for (const Item& item : level)
        if (loose(item.title).starts_with(want)) return &item;
    return nullptr;
}

std::string titleList(const std::vector<Item>& level) {
    std::string list;
    for (size_t i = 0; i < level.size() && i < listedMenuTitles; ++i) {
        if (level[i].title.empty()) continue;
        if (!list.empty()) list += ", ";
        list += level[i].title;
    }
    return list;
}

// What the method should answer: the chosen item and how, or the failure.
struct Expected {
    const Item* item = nullptr;
    std::string via;
    Failure failure;
};

Expected expect(const std::vector<Item>& bar, const std::vector<std::string>& path) {
    for (const std::string& entry : path) {
        if (loose(entry).empty()) return {nullptr, "", {"Give the app and the menu path.", "bad-input"}};
    }
    const std::vector<Item>* level = &bar;
    const Item* item = nullptr;
    for (size_t depth = 0; depth < path.size(); ++depth) {
        item = match(*level, path[depth]);
        if (!item) {
            return {nullptr, "",
                    {"No menu item \"" + path[depth] + "\" there. The items are: " +
                         titleList(*level) + ".",
                     "not-found"}};
        }
        if (depth + 1 == path.size()) break;
        if (!item->hasSubmenu) return {nullptr, "", {"\"" + path[depth] + "\" has no submenu.", "not-found"}};
        level = &item->submenu;
    }
    if (!item->enabled)
        return {nullptr, "", {"The menu item \"" + path.back() + "\" is disabled now.", "failed"}};
    return {item, item->pickable ? "pick" : "press", {}};
}

void checkLoose(const std::string& text, const JSON& scene, const JSON& path) {
    const std::string once = loose(text);
    if (loose(once) != once) fault("loosening twice changes \"" + text + "\"", scene, path);
    for (const char c : once)
        if (c >= 'A' && c <= 'Z') fault("a capital in loose \"" + once + "\"", scene, path);
    if (once.find("\u2026") != std::string::npos || once.find("...") != std::string::npos)
        fault("an ellipsis in loose \"" + once + "\"", scene, path);
    if (!once.empty() && (once.front() == ' ' || once.back() == ' ' || once.front() == '\t' ||
                          once.back() == '\t'))
        fault("a blank at the end of loose \"" + once + "\"", scene, path);
}

void collectIds(const std::vector<Item>& level, std::vector<std::string>& ids) {
    for (const Item& item : level) {
        ids.push_back(item.id);
        collectIds(item.submenu, ids);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    std::vector<std::string> path;
    const size_t entries = input.ConsumeIntegralInRange<size_t>(1, 4);
    for (size_t i = 0; i < entries; ++i) path.push_back(makeTitle(input));
    int next = 0;
    const std::vector<Item> bar = makeLevel(input, 0, next);

    JSON barEntry = {{"role", "AXMenuBar"}, {"children", JSON::array()}};
    for (const Item& item : bar) barEntry["children"].push_back(sceneItem(item, true));
    JSON scene = {{"apps",
                   {{{"name", "Mail"}, {"pid", 20}, {"active", true}},
                    {{"name", "Notes"}, {"pid", 10}, {"menuBar", barEntry}}}}};
    const JSON pathJSON = path;

    for (const std::string& entry : path) checkLoose(entry, scene, pathJSON);

    VirtualClock clock;
    MainLoop mainLoop(clock);
    sim::SimDesktop desktop(clock, scene);
    Platform platform{clock, mainLoop, desktop, desktop, desktop, desktop, desktop, desktop};
    std::FILE* output = std::tmpfile();
    const Expected expected = expect(bar, path);
    std::string via;
    Failure failure;
    {
        Computer computer(platform, output);
        try {
            via = handle(computer, "menu", {{"app", "Notes"}, {"path", pathJSON}})["via"];
        } catch (const Failure& thrown) {
            failure = thrown;
        }
    }
    std::fclose(output);

    if (via != expected.via) fault("chose by \"" + via + "\", not \"" + expected.via + "\"", scene, pathJSON);
    if (failure.message != expected.failure.message || failure.code != expected.failure.code)
        fault("failed with \"" + failure.message + "\" (" + failure.code + "), not \"" +
                  expected.failure.message + "\" (" + expected.failure.code + ")",
              scene, pathJSON);
    std::vector<std::string> ids;
    collectIds(bar, ids);
    for (const std::string& id : ids) {
        const bool chosen = str(platform.accessibility, desktop.elementNamed(id), "AXHelp") == "chosen";
        if (chosen != (expected.item && expected.item->id == id))
            fault(chosen ? "acted on " + id : "did not act on " + id, scene, pathJSON);
    }
    return 0;
}

// Acting on the simulated desktop as the user or an app would: the control commands (also the
// scripted effects of actions) and the control channel that reads them from a FIFO.
#include <fcntl.h>
#include <sys/eventfd.h>

#include <algorithm>

#include "fd.h"

#include "sim-desktop.h"
#include "sim-scene.h"

namespace pelko::computer::sim {

SimDesktop::~SimDesktop() {
    stopping_ = true;
    if (controlWake_.valid()) {
        const uint64_t one = 1;
        (void)writeAll(controlWake_.get(), {reinterpret_cast<const char*>(&one), sizeof one});
    }
    if (controlThread_.joinable()) controlThread_.join();
}

// ---- commands (mutex held) ----

SimDesktop::App* SimDesktop::appByReference(const JSON& reference) {
    if (reference.is_number_integer()) return appOf(reference.get<pid_t>());
    if (reference.is_string()) {
        for (pid_t pid : order_) {
            if (apps_[pid].info.localizedName == reference.get<std::string>()) return &apps_[pid];
        }
    }
    return nullptr;
}

void SimDesktop::detach(Id id) {
    Node& node = nodes_[id];
    if (node.parent) {
        auto& siblings = nodes_[node.parent].children;
        std::erase(siblings, id);
        if (App* app = appWithElement(node.parent)) {
            std::erase(app->windows, id);
            if (app->menuBar == id) app->menuBar = 0;
        }
    }
    node.parent = 0;
}

void SimDesktop::destroy(Id id) {
    Node& node = nodes_[id];
    node.destroyed = true;
    for (Id child : node.children) destroy(child);
}

void SimDesktop::runCommand(const JSON& command, std::vector<std::function<void()>>& after) {
    if (!command.is_object()) throw SceneError("a command must be a JSON object");
    const std::string verb = sceneKey(command, "do", std::string());
    auto target = [&]() -> Node& {
        const Id id = resolveName(sceneKey(command, "element", JSON()));
        if (!id) throw SceneError("command \"" + verb + "\" names no known element");
        return nodes_[id];
    };
    auto targetApp = [&]() -> App& {
        App* app = appByReference(sceneKey(command, "app", JSON()));
        if (!app) throw SceneError("command \"" + verb + "\" names no running app");
        return *app;
    };
    JSON logged = command;
    logged.erase("do");
    if (verb == "set") {
        const std::string attribute = sceneKey(command, "attribute", std::string());
        const JSON value = command.value("value", JSON());
        checkAttributeValue(value, attribute);
        target().attributes[attribute] = value;
    } else if (verb == "add") {
        const Id parent = resolveName(sceneKey(command, "parent", JSON()));
        if (!parent) throw SceneError("command \"add\" names no known parent");
        const Id id =
            addNode(sceneKey(command, "element", JSON::object()), nodes_[parent].pid, parent);
        auto& children = nodes_[parent].children;
        const auto role = nodes_[id].attributes.find("AXRole");
        App* app = appWithElement(parent);
        if (app && role != nodes_[id].attributes.end() && role->second == "AXWindow") {
            // A window joins the app's windows at that position; the app's children stay the
            // windows, then the menu bar.
            auto& windows = app->windows;
            const size_t at =
                std::min<size_t>(sceneKey(command, "index", windows.size()), windows.size());
            const Id before = at < windows.size() ? windows[at] : app->menuBar;
            windows.insert(windows.begin() + static_cast<long>(at), id);
            const auto place =
                before ? std::find(children.begin(), children.end(), before) : children.end();
            children.insert(place, id);
        } else {
            const size_t at =
                std::min<size_t>(sceneKey(command, "index", children.size()), children.size());
            children.insert(children.begin() + static_cast<long>(at), id);
        }
    } else if (verb == "remove") {
        detach(target().id);
    } else if (verb == "destroy") {
        const Id id = target().id;
        detach(id);
        destroy(id);
    } else if (verb == "front") {
        makeFront(targetApp().info.pid);
    } else if (verb == "hide") {
        App& app = targetApp();
        app.info.hidden = true;
        app.info.active = false;
    } else if (verb == "quit") {
        App& app = targetApp();
        app.info.terminated = true;
        app.info.active = false;
        destroy(app.element);
        order_.erase(std::remove(order_.begin(), order_.end(), app.info.pid), order_.end());
    } else if (verb == "launch") {
        addApp(sceneKey(command, "app", JSON::object()));
    } else if (verb == "key") {
        KeyDown key{static_cast<uint16_t>(sceneKey(command, "keyCode", 0)),
                    sceneKey(command, "mark", int64_t{0})};
        deliverKey(key, after);
    } else {
        throw SceneError("unknown command \"" + verb + "\"");
    }
    log_.record("control:" + verb, logged);
}

// ---- the control channel ----

void SimDesktop::control(const JSON& command) {
    std::vector<std::function<void()>> after;
    {
        std::lock_guard lock(mutex_);
        try {
            runCommand(command, after);
        } catch (const JSON::exception& error) {
            throw SceneError(std::string("malformed command: ") + error.what());
        }
    }
    for (auto& task : after) task();
}

void SimDesktop::listenForControl(const std::string& path) {
    // Opened for reading and writing, so that the FIFO never reports an end while no test
    // has it open.
    FileDescriptor channel(open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC));
    controlWake_.reset(eventfd(0, EFD_CLOEXEC));
    if (!channel.valid() || !controlWake_.valid())
        throw SceneError("cannot open control channel " + path);
    controlThread_ = std::thread([this, channel = std::move(channel)] {
        std::string pending;
        char chunk[4096];
        // A read waits for a command, or ends when the desktop's end wakes it.
        const Wait untilWoken{.deadline = std::nullopt, .wakeFd = controlWake_.get()};
        while (!stopping_) {
            const auto got = readSome(channel.get(), chunk, sizeof chunk, untilWoken);
            if (!got || got.value() == 0) break;
            pending.append(chunk, got.value());
            for (size_t newline; (newline = pending.find('\n')) != std::string::npos;) {
                const std::string line = pending.substr(0, newline);
                pending.erase(0, newline + 1);
                if (line.empty()) continue;
                const auto command = parseJSON(line);
                try {
                    if (!command) throw SceneError("a command must be a JSON object");
                    control(*command);
                } catch (const SceneError& error) {
                    log_.record("controlError", {{"error", error.what()}});
                }
            }
        }
    });
}

}  // namespace pelko::computer::sim

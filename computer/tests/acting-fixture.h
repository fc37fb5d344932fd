// The acting methods run through the method table on a simulated desktop built in code, with
// the call log read back as short summaries of what reached the desktop.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "request-loop.h"
#include "sim-fixture.h"

namespace pelko::computer::testing {

class ActingFixture : public SimFixture {
  protected:
    /// Numbers scene elements in the app's session as a state read would, and records the
    /// window it read (when named).
    void number(pid_t pid, const std::map<int64_t, std::string>& names,
                const std::string& window = "") {
        AppSession& session = computer().sessions.session(pid);
        for (const auto& [index, name] : names) session.elements[index] = element(name);
        if (!window.empty()) session.window = element(window);
    }

    Element element(const std::string& name) {
        Element found = desktop->elementNamed(name);
        EXPECT_TRUE(found) << "no element " << name;
        return found;
    }

    /// Runs a method as a request would.
    JSON run(const std::string& method, const JSON& params) {
        return handle(computer(), method, params);
    }

    /// The failure a method throws; a failure with code "none" when it throws nothing.
    Failure failureOf(const std::string& method, const JSON& params) {
        try {
            const JSON result = run(method, params);
            ADD_FAILURE() << method << " answered " << result.dump();
        } catch (const Failure& failure) {
            return failure;
        }
        return {"", "none"};
    }

    /// What reached the desktop, one short line per call: "post leftMouseDown(1) system",
    /// "AXPress button 0", "set field AXFocused 0", "activate 10", "warp"; panel calls left out.
    std::vector<std::string> acts() const {
        std::vector<std::string> lines;
        for (const auto& entry : calls()) {
            const std::string call = entry["call"];
            if (call == "post") {
                std::string line = "post " + entry["type"].get<std::string>();
                if (entry.contains("clickState")) line += "(" + entry["clickState"].dump() + ")";
                if (entry.contains("wheel1"))
                    line += "(" + entry["wheel1"].dump() + "," + entry["wheel2"].dump() + ")";
                if (entry.contains("text") && !entry["text"].get<std::string>().empty())
                    line += " " + entry["text"].dump();
                line += " " + (entry["target"].is_string() ? entry["target"].get<std::string>()
                                                           : entry["target"].dump());
                lines.push_back(line);
            } else if (call == "performAction") {
                lines.push_back(entry["action"].get<std::string>() + " " +
                                entry["element"].get<std::string>() + " " + entry["result"].dump());
            } else if (call == "setAttribute") {
                lines.push_back("set " + entry["element"].get<std::string>() + " " +
                                entry["attribute"].get<std::string>() + " " +
                                entry["result"].dump());
            } else if (call == "activate") {
                lines.push_back("activate " + entry["pid"].dump());
            } else if (call == "warpPointer") {
                lines.push_back("warp");
            }
        }
        return lines;
    }

    /// The events posted, as in `acts`.
    std::vector<std::string> posted() const {
        std::vector<std::string> lines;
        for (const auto& line : acts()) {
            if (line.starts_with("post ")) lines.push_back(line);
        }
        return lines;
    }

    /// The `front` events the program wrote.
    int frontEvents() {
        int count = 0;
        for (const auto& line : outputLines()) count += line.contains("event");
        return count;
    }
};

}  // namespace pelko::computer::testing

#include "message.h"

#include "json-line.h"

namespace pelko::notifier {

std::optional<std::string> flagValue(const std::vector<std::string>& args,
                                     const std::string& flag) {
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] != flag) continue;
        if (i + 1 < args.size()) return args[i + 1];
        return std::nullopt;
    }
    return std::nullopt;
}

std::vector<std::string> flagValues(const std::vector<std::string>& args, const std::string& flag) {
    std::vector<std::string> values;
    for (size_t i = 0; i + 1 < args.size(); ++i) {
        if (args[i] == flag) values.push_back(args[i + 1]);
    }
    return values;
}

std::optional<std::string> encodeCommand(const std::vector<std::string>& args) {
    if (args.empty()) return std::nullopt;
    JSON message = JSON::object();
    if (args[0] == "post") {
        auto id = flagValue(args, "--id");
        auto title = flagValue(args, "--title");
        if (!id || !title) return std::nullopt;
        message["cmd"] = "post";
        message["id"] = *id;
        message["title"] = *title;
        // Optional keys appear only when their flag came with a value; the resident supplies
        // the defaults.
        for (const char* key : {"subtitle", "body", "url", "kind", "app"}) {
            if (auto value = flagValue(args, std::string("--") + key)) message[key] = *value;
        }
    } else if (args[0] == "clear") {
        message["cmd"] = "clear";
        message["ids"] = flagValues(args, "--id");
    } else {
        return std::nullopt;
    }
    return compactJSON(message);
}

}  // namespace pelko::notifier

#include "card-content.h"

namespace pelko::notifier {

std::optional<CardContent> CardContent::fromMessage(const JSON& message) {
    if (!message.is_object()) return std::nullopt;
    auto text = [&](const char* key) -> const std::string* {
        auto found = message.find(key);
        if (found == message.end() || !found->is_string()) return nullptr;
        return found->get_ptr<const std::string*>();
    };
    const std::string* id = text("id");
    const std::string* title = text("title");
    if (!id || !title) return std::nullopt;
    CardContent content;
    content.id = *id;
    content.title = *title;
    auto take = [&](const char* key, std::string& field) {
        if (const std::string* value = text(key)) field = *value;
    };
    take("subtitle", content.subtitle);
    take("body", content.body);
    take("url", content.url);
    take("kind", content.kind);
    take("app", content.appPath);
    return content;
}

}  // namespace pelko::notifier

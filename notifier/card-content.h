// What one card shows: the texts and options of a post message.
#pragma once

#include <optional>
#include <string>

#include "json-line.h"

namespace pelko::notifier {

/// What one card shows. Every field is text; `kind` is "input", "failed" or anything else.
struct CardContent {
    std::string id;
    std::string title;
    std::string subtitle;
    std::string body;
    std::string url;
    std::string kind = "done";
    std::string appPath;

    /// The content of a decoded post message. Nothing when "id" or "title" is missing or not a
    /// string; any other key that is absent or not a string takes its default; extra keys are
    /// ignored.
    static std::optional<CardContent> fromMessage(const JSON& message);

    bool operator==(const CardContent&) const = default;
};

}  // namespace pelko::notifier

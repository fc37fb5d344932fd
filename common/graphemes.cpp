#include "graphemes.h"

#include <utf8proc.h>

#include "utf8.h"

namespace pelko {
namespace {

// Walks the cluster boundaries of `text`: `visit(offset)` at the start of each cluster returns
// whether to go on; returns the byte offset where the last cluster walked ends.
template <typename Visit>
size_t scanClusters(std::string_view text, Visit&& visit) {
    size_t end = 0;
    utf8proc_int32_t state = 0;
    char32_t previous = 0;
    bool first = true;
    for (const CodePoint& codePoint : CodePoints(text)) {
        const bool startsCluster =
            first || utf8proc_grapheme_break_stateful(
                         static_cast<utf8proc_int32_t>(previous),
                         static_cast<utf8proc_int32_t>(codePoint.value), &state);
        if (startsCluster && !visit(codePoint.offset)) break;
        end = codePoint.offset + codePoint.length;
        previous = codePoint.value;
        first = false;
    }
    return end;
}

}  // namespace

size_t graphemeCount(std::string_view text) {
    size_t clusters = 0;
    scanClusters(text, [&](size_t) {
        ++clusters;
        return true;
    });
    return clusters;
}

std::string_view graphemePrefix(std::string_view text, size_t count) {
    size_t clusters = 0;
    const size_t end = scanClusters(text, [&](size_t) { return clusters++ < count; });
    return text.substr(0, end);
}

std::vector<size_t> graphemeStarts(std::string_view text) {
    std::vector<size_t> starts;
    scanClusters(text, [&](size_t offset) {
        starts.push_back(offset);
        return true;
    });
    return starts;
}

}  // namespace pelko

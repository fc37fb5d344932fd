// The tree writer: turns an accessibility sub-tree into the indexed, text-only outline the agent
// reads, within three budgets (characters, elements examined, time). In overview mode big parts
// deep in the tree are folded into one line ending "— more inside" with a few sample words.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "clock.h"
#include "platform/accessibility.h"

namespace pelko::computer {

/// Platform role → the short word written on a line.
extern const std::map<std::string, std::string> roleWords;
/// Platform subrole → the word that replaces the role word.
extern const std::map<std::string, std::string> subroleWords;
/// Roles that always get a line, even without any text.
extern const std::set<std::string> actionable;
/// Roles left out together with everything below them.
extern const std::set<std::string> skippedRoles;
/// Roles whose expanded state is reported.
extern const std::set<std::string> expandable;
/// Roles whose menu-opening action is worth listing.
extern const std::set<std::string> menuRoles;

/// In overview mode, elements at this many branching levels or more are peeked.
constexpr int overviewLevels = 3;
/// A peeked part with more shown elements than this is folded.
constexpr int smallPartNodes = 12;
/// A peek stops counting at this many elements.
constexpr int peekNodes = 40;
/// A peek examines at most this many queued elements, and queues at most this many children of
/// any one element.
constexpr size_t peekVisits = 120;
/// A walk that has examined more elements than this stops.
constexpr int64_t visitBudget = 6000;
/// A walk running longer than this stops.
constexpr Duration timeBudget = seconds(8);
/// Lines are indented by at most this many steps of two spaces.
constexpr int indentationCap = 12;

/// Whether the code point is white space, a line break, a zero-width character, the byte-order
/// mark, the object replacement character or a private-use (icon-font) glyph.
bool isInvisible(char32_t codePoint);
/// Whether `text` holds nothing but invisible characters (an empty text does too).
bool isInvisibleOnly(std::string_view text);
/// Line breaks become " ⏎ ", double quotes apostrophes, and a text longer than `limit`
/// characters keeps its first `limit` followed by "…". Characters are grapheme clusters.
std::string clip(std::string_view text, size_t limit);

/// One outline pass: created, walked once, then read. Holds the accessibility seam and the
/// clock it reads through; both must outlive it.
class TreeWriter {
  public:
    /// A pass with a character budget, an optional visible area (screen points), overview mode
    /// and the index its first written element receives. The time budget starts now.
    TreeWriter(Accessibility& ax, Clock& clock, int64_t maxChars, std::optional<Rect> bounds,
               bool overview = false, int64_t firstIndex = 1);

    /// The outline, one entry per written element, in writing order.
    std::vector<std::string> lines;
    /// Characters written: each line's length plus 1 for the line break joining it.
    int64_t chars = 0;
    /// Elements examined, by the walk and by peeks together.
    int64_t visited = 0;
    /// A budget ran out; nothing more is written.
    bool truncated = false;
    /// Parts folded into one "— more inside" line.
    int64_t cuts = 0;
    /// The index the next written element receives.
    int64_t next;
    /// Every element this pass numbered.
    std::map<int64_t, Element> elements;
    /// Character budget.
    int64_t maxChars;
    /// Visible area; elements lying wholly outside it are left out.
    std::optional<Rect> bounds;
    /// Overview mode: big parts deep in the tree are folded.
    bool overview;
    /// When the pass began, for the time budget.
    Instant started;

    /// Writes the outline of the sub-tree below and including `element`. `depth` is the
    /// indentation step of its line; `levels` the number of its ancestors within the walked
    /// sub-tree that have more than one child. Start with 0 and 0.
    void walk(const Element& element, int depth, int levels);

    /// What a look below an element found without writing: shown elements counted (capped),
    /// and up to three sample words.
    struct Peek {
        int nodes = 0;
        std::vector<std::string> words;
    };
    /// Looks ahead, breadth first, below `element` (not counting it); counts into `visited`.
    Peek peek(const Element& element);

    /// Whether `element` is shown: not hidden, not of a skipped role, and not lying wholly
    /// outside `bounds` (elements without a frame or of zero size are never left out for their
    /// position).
    bool shown(const Element& element);

    /// The lines joined with "\n".
    std::string outline() const;

  private:
    struct Facts;
    struct Visit;
    std::optional<Facts> shownFacts(const Element& element);
    Visit visit(const Element& element, int depth, int levels);
    Peek peekBelow(const std::vector<Element>& kids);
    std::string line(const Element& element, const Facts& facts, int depth, const Peek* fold);
    bool outOfBudget() const;

    Accessibility* ax_;
    Clock* clock_;
};

/// The outline the state reader uses: a full outline first (unless `overviewOnly`), and when
/// that ran out of a budget, an overview with fresh counters numbering again from `firstIndex`.
TreeWriter readTree(Accessibility& ax, Clock& clock, const Element& root,
                    std::optional<Rect> bounds, int64_t maxChars, int64_t firstIndex,
                    bool overviewOnly);

}  // namespace pelko::computer

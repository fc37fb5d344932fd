// UTF-8 text helpers shared by the programs.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace pelko {

/// `text` with every byte sequence that is not valid UTF-8 replaced by U+FFFD, one
/// replacement for each maximal invalid subpart (the usual "substitution of maximal subparts").
std::string repairUTF8(std::string_view text);

/// Whether `text` is entirely valid UTF-8.
bool isValidUTF8(std::string_view text);

/// One step of a walk through UTF-8 text.
struct CodePoint {
    /// The scalar value; U+FFFD for a byte that starts no valid sequence.
    char32_t value = 0;
    /// Where its bytes begin in the text, and how many there are (1 for an invalid byte).
    std::size_t offset = 0;
    std::size_t length = 0;
    bool valid = false;
};

/// The code points of UTF-8 text in order, for range-for. A byte that starts no valid
/// sequence is a step of its own that reads U+FFFD, so every byte belongs to exactly one step.
class CodePoints {
  public:
    explicit CodePoints(std::string_view text) : text_(text) {}

    class Iterator {
      public:
        using value_type = CodePoint;
        using difference_type = std::ptrdiff_t;
        Iterator() = default;
        Iterator(std::string_view text, std::size_t offset);
        const CodePoint& operator*() const { return current_; }
        const CodePoint* operator->() const { return &current_; }
        Iterator& operator++();
        Iterator operator++(int) {
            Iterator before = *this;
            ++*this;
            return before;
        }
        bool operator==(const Iterator& other) const {
            return current_.offset == other.current_.offset;
        }

      private:
        std::string_view text_;
        CodePoint current_;
    };

    Iterator begin() const { return Iterator(text_, 0); }
    Iterator end() const { return Iterator(text_, text_.size()); }

  private:
    std::string_view text_;
};

/// The first code point of `text` (U+FFFD when it starts with an invalid byte), or nothing
/// when the text is empty.
std::optional<char32_t> firstCodePoint(std::string_view text);

/// Appends the UTF-8 bytes of `scalar` (U+FFFD for a surrogate or a value beyond U+10FFFF).
void appendUTF8(std::string& text, char32_t scalar);

/// Appends the UTF-16 units of `scalar`: one, or a surrogate pair beyond U+FFFF (U+FFFD for a
/// surrogate or a value beyond U+10FFFF).
void appendUTF16(std::u16string& units, char32_t scalar);

}  // namespace pelko

#include "utf8.h"

namespace pelko {
namespace {

/// Length of the well-formed sequence starting at `i`, or, when it is ill-formed, the
/// negated length of its maximal subpart (at least one byte), following the Unicode table of
/// well-formed byte sequences.
int sequenceAt(std::string_view s, size_t i) {
    const auto byte = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char lead = byte(i);
    if (lead < 0x80) return 1;
    int length;
    unsigned char low = 0x80, high = 0xBF;  // range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
    } else {
        return -1;
    }
    for (int k = 1; k < length; ++k) {
        if (i + k >= s.size()) return -k;
        const unsigned char c = byte(i + k);
        const bool ok = k == 1 ? (c >= low && c <= high) : (c >= 0x80 && c <= 0xBF);
        if (!ok) return -k;
    }
    return length;
}

// The scalar of the well-formed sequence of `length` bytes at `i`.
char32_t decodeAt(std::string_view s, size_t i, int length) {
    const auto byte = [&](size_t k) {
        return static_cast<char32_t>(static_cast<unsigned char>(s[k]));
    };
    switch (length) {
        case 1:
            return byte(i);
        case 2:
            return (byte(i) & 0x1F) << 6 | (byte(i + 1) & 0x3F);
        case 3:
            return (byte(i) & 0x0F) << 12 | (byte(i + 1) & 0x3F) << 6 | (byte(i + 2) & 0x3F);
        default:
            return (byte(i) & 0x07) << 18 | (byte(i + 1) & 0x3F) << 12 | (byte(i + 2) & 0x3F) << 6 |
                   (byte(i + 3) & 0x3F);
    }
}

CodePoint codePointAt(std::string_view text, size_t offset) {
    if (offset >= text.size()) return {0, text.size(), 0, false};
    const int n = sequenceAt(text, offset);
    if (n < 0) return {U'\uFFFD', offset, 1, false};
    return {decodeAt(text, offset, n), offset, static_cast<size_t>(n), true};
}

}  // namespace

CodePoints::Iterator::Iterator(std::string_view text, std::size_t offset)
    : text_(text), current_(codePointAt(text, offset)) {}

CodePoints::Iterator& CodePoints::Iterator::operator++() {
    current_ = codePointAt(text_, current_.offset + current_.length);
    return *this;
}

std::optional<char32_t> firstCodePoint(std::string_view text) {
    if (text.empty()) return std::nullopt;
    return codePointAt(text, 0).value;
}

void appendUTF8(std::string& text, char32_t scalar) {
    if ((scalar >= 0xD800 && scalar <= 0xDFFF) || scalar > 0x10FFFF) scalar = U'\uFFFD';
    const auto put = [&](char32_t bits) { text.push_back(static_cast<char>(bits)); };
    if (scalar < 0x80) {
        put(scalar);
    } else if (scalar < 0x800) {
        put(0xC0 | scalar >> 6);
        put(0x80 | (scalar & 0x3F));
    } else if (scalar < 0x10000) {
        put(0xE0 | scalar >> 12);
        put(0x80 | (scalar >> 6 & 0x3F));
        put(0x80 | (scalar & 0x3F));
    } else {
        put(0xF0 | scalar >> 18);
        put(0x80 | (scalar >> 12 & 0x3F));
        put(0x80 | (scalar >> 6 & 0x3F));
        put(0x80 | (scalar & 0x3F));
    }
}

void appendUTF16(std::u16string& units, char32_t scalar) {
    if ((scalar >= 0xD800 && scalar <= 0xDFFF) || scalar > 0x10FFFF) scalar = U'\uFFFD';
    if (scalar < 0x10000) {
        units.push_back(static_cast<char16_t>(scalar));
    } else {
        scalar -= 0x10000;
        units.push_back(static_cast<char16_t>(0xD800 + (scalar >> 10)));
        units.push_back(static_cast<char16_t>(0xDC00 + (scalar & 0x3FF)));
    }
}

std::string repairUTF8(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        const int n = sequenceAt(text, i);
        if (n > 0) {
            out.append(text.substr(i, n));
            i += n;
        } else {
            out.append("\xEF\xBF\xBD");
            i += -n;
        }
    }
    return out;
}

bool isValidUTF8(std::string_view text) {
    for (size_t i = 0; i < text.size();) {
        const int n = sequenceAt(text, i);
        if (n < 0) return false;
        i += n;
    }
    return true;
}

}  // namespace pelko

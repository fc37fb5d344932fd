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

}  // namespace

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

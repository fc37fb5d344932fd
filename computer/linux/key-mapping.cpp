#include "key-mapping.h"

#include <X11/keysym.h>

#include <map>

namespace pelko::computer::linux_desktop {
namespace {

// The standard ANSI layout's virtual key codes and the keys they stand for.
const std::map<uint16_t, KeySym>& keysyms() {
    static const std::map<uint16_t, KeySym> table = {
        {36, XK_Return},
        {48, XK_Tab},
        {49, XK_space},
        {51, XK_BackSpace},
        {117, XK_Delete},
        {53, XK_Escape},
        {123, XK_Left},
        {124, XK_Right},
        {126, XK_Up},
        {125, XK_Down},
        {115, XK_Home},
        {119, XK_End},
        {116, XK_Prior},
        {121, XK_Next},
        {122, XK_F1},
        {120, XK_F2},
        {99, XK_F3},
        {118, XK_F4},
        {96, XK_F5},
        {97, XK_F6},
        {98, XK_F7},
        {100, XK_F8},
        {101, XK_F9},
        {109, XK_F10},
        {103, XK_F11},
        {111, XK_F12},
        {0, XK_a},
        {11, XK_b},
        {8, XK_c},
        {2, XK_d},
        {14, XK_e},
        {3, XK_f},
        {5, XK_g},
        {4, XK_h},
        {34, XK_i},
        {38, XK_j},
        {40, XK_k},
        {37, XK_l},
        {46, XK_m},
        {45, XK_n},
        {31, XK_o},
        {35, XK_p},
        {12, XK_q},
        {15, XK_r},
        {1, XK_s},
        {17, XK_t},
        {32, XK_u},
        {9, XK_v},
        {13, XK_w},
        {7, XK_x},
        {16, XK_y},
        {6, XK_z},
        {29, XK_0},
        {18, XK_1},
        {19, XK_2},
        {20, XK_3},
        {21, XK_4},
        {23, XK_5},
        {22, XK_6},
        {26, XK_7},
        {28, XK_8},
        {25, XK_9},
        {27, XK_minus},
        {24, XK_equal},
        {33, XK_bracketleft},
        {30, XK_bracketright},
        {41, XK_semicolon},
        {39, XK_apostrophe},
        {43, XK_comma},
        {47, XK_period},
        {44, XK_slash},
        {42, XK_backslash},
        {50, XK_grave},
    };
    return table;
}

}  // namespace

std::optional<KeySym> keysymOfKeyCode(uint16_t keyCode) {
    const auto found = keysyms().find(keyCode);
    if (found == keysyms().end()) return std::nullopt;
    return found->second;
}

std::optional<uint16_t> keyCodeOfKeysym(KeySym keysym) {
    if (keysym >= XK_A && keysym <= XK_Z) keysym += XK_a - XK_A;
    if (keysym == XK_KP_Enter) keysym = XK_Return;
    if (keysym == XK_ISO_Left_Tab) keysym = XK_Tab;
    for (const auto& [code, sym] : keysyms()) {
        if (sym == keysym) return code;
    }
    return std::nullopt;
}

std::vector<KeySym> modifierKeysyms(EventFlags flags) {
    std::vector<KeySym> keys;
    if (flags & (eventFlagCommand | eventFlagControl)) keys.push_back(XK_Control_L);
    if (flags & eventFlagAlternate) keys.push_back(XK_Alt_L);
    if (flags & eventFlagShift) keys.push_back(XK_Shift_L);
    return keys;
}

KeySym keysymOfScalar(char32_t scalar) {
    switch (scalar) {
        case U'\t':
            return XK_Tab;
        case U'\r':
        case U'\n':
            return XK_Return;
        case U'\b':
            return XK_BackSpace;
        case 0x1B:
            return XK_Escape;
        default:
            break;
    }
    if ((scalar >= 0x20 && scalar <= 0x7E) || (scalar >= 0xA0 && scalar <= 0xFF)) return scalar;
    return 0x01000000 + scalar;
}

void PostedKeys::forgetOld() {
    const Instant now = clock_.now();
    while (!posted_.empty() && now - posted_.front().at > postedKeyLifetime) posted_.pop_front();
}

void PostedKeys::record(unsigned keycode, int64_t mark) {
    std::lock_guard lock(mutex_);
    forgetOld();
    posted_.push_back({keycode, mark, clock_.now()});
}

std::optional<int64_t> PostedKeys::claim(unsigned keycode) {
    std::lock_guard lock(mutex_);
    forgetOld();
    for (auto it = posted_.begin(); it != posted_.end(); ++it) {
        if (it->keycode == keycode) {
            const int64_t mark = it->mark;
            posted_.erase(it);
            return mark;
        }
    }
    return std::nullopt;
}

}  // namespace pelko::computer::linux_desktop

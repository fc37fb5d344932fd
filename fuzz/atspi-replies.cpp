// The Linux backend's accessibility part reading an application that answers its D-Bus calls
// with whatever the fuzz input says: the expected shapes with hostile contents (parents that
// are their own descendants, children naming their ancestors, counts and indexes of any size,
// extents at the ends of the integer range, values of NaN or 1e308, bulk reads of thousands
// of objects), any other D-Bus value in place of the expected one, errors, and calls that are
// never answered. The fake application stands behind the same message types as a real one
// (libdbus messages, validated as the bus would), so every reader sees what a peer could send.
//
// The reads are those of a state request and of a click: the application's windows and menu
// bar, the chosen window's frame and its outline, then the attributes and actions a click
// asks of the numbered elements. What must hold: no crash, no undefined behaviour, no leak;
// the outline keeps its limits (one line per numbered element, indexes without gaps, no line
// started after the character budget ran out, the visit budget held); an outline pass that was
// not cut short ended within its time budget, give or take the reads of one element; every
// frame is finite and within reach of a screen; everything read goes into compact JSON (valid
// UTF-8); every error number is one the seam knows.
#include <dbus/dbus.h>
#include <fuzzer/FuzzedDataProvider.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "ax-readers.h"
#include "clock.h"
#include "fuzz-support.h"
#include "graphemes.h"
#include "json-line.h"
#include "linux/atspi-calls.h"
#include "linux/atspi-client.h"
#include "linux/change-count.h"
#include "linux/linux-accessibility.h"
#include "linux/window-system.h"
#include "state-reader.h"
#include "tree-writer.h"
#include "utf8.h"

namespace {

using namespace pelko;
using namespace pelko::computer;
using namespace pelko::computer::linux_desktop;

[[noreturn]] void fault(const std::string& what, const std::string& detail) {
    pelko::fuzzing::fault("atspi-replies", what, detail);
}

constexpr pid_t appPid = 42;
const std::string appName = ":1.7";
const char* const busNames[] = {":1.7", ":1.7", ":1.7", ":1.9", "", "org.a11y.atspi.Registry"};
const char* const interfaceNames[] = {
    "org.a11y.atspi.Accessible", "org.a11y.atspi.Action",       "org.a11y.atspi.Component",
    "org.a11y.atspi.Text",       "org.a11y.atspi.EditableText", "org.a11y.atspi.Value",
    "org.a11y.atspi.Collection", "org.a11y.atspi.Selection",    "org.a11y.atspi.Application",
    "org.a11y.atspi.Document",   "org.a11y.atspi.Image",        "x"};
const char* const errorNames[] = {
    DBUS_ERROR_NO_REPLY,        DBUS_ERROR_UNKNOWN_OBJECT, DBUS_ERROR_UNKNOWN_METHOD,
    DBUS_ERROR_SERVICE_UNKNOWN, DBUS_ERROR_DISCONNECTED,   DBUS_ERROR_UNKNOWN_INTERFACE,
    DBUS_ERROR_FAILED,          DBUS_ERROR_INVALID_ARGS,   "org.example.Whatever"};
const char* const texts[] = {"",
                             " ",
                             "OK",
                             "  Save  ",
                             "GtkButton",
                             "4 4",
                             "a\nb\r\nc",
                             "say \"hi\"",
                             "\u200B\uFEFF\uFFFC",
                             "e\u0301\U0001F468\u200D\U0001F469",
                             "\uFFFF\uFFFE\U0010FFFF",
                             "<Control>s",
                             "click",
                             "press",
                             "showContextMenu",
                             "placeholder-text",
                             "gtk",
                             "Qt",
                             "Chromium",
                             "Gecko",
                             "3.24"};
const int32_t extremeInts[] = {0,     1,       -1,        40,        1000,      -32768,
                               65535, 1 << 30, INT32_MAX, INT32_MIN, -(1 << 30)};
const double extremeDoubles[] = {0,
                                 -0.0,
                                 0.5,
                                 1e308,
                                 -1e308,
                                 std::numeric_limits<double>::infinity(),
                                 -std::numeric_limits<double>::infinity(),
                                 std::numeric_limits<double>::quiet_NaN(),
                                 std::numeric_limits<double>::denorm_min(),
                                 9.2233720368547758e18};

// Appends D-Bus values made of the fuzz input to a message.
struct Writer {
    FuzzedDataProvider& in;
    size_t budget;  // values left to write in this reply, so a reply stays finite

    template <typename T, size_t N>
    const T& pick(const T (&pool)[N]) {
        return pool[in.ConsumeIntegralInRange<size_t>(0, N - 1)];
    }

    // Text from the pools or the input, repaired into UTF-8 without NUL, as libdbus demands of
    // anything it sends (and checks of anything it receives).
    std::string text() {
        std::string chosen;
        switch (in.ConsumeIntegralInRange(0, 3)) {
            case 0:
            case 1:
                chosen = pick(texts);
                break;
            case 2: {
                const std::string piece = pick(texts);
                for (size_t n = in.ConsumeIntegralInRange<size_t>(1, 3000); n > 0; --n)
                    chosen += piece.empty() ? "x" : piece;
                break;
            }
            default:
                chosen = repairUTF8(in.ConsumeRandomLengthString(200));
                break;
        }
        std::erase(chosen, '\0');
        // What libdbus would refuse to send (surrogates, noncharacters in older versions).
        if (!dbus_validate_utf8(chosen.c_str(), nullptr)) return "?";
        return chosen;
    }

    std::string path() {
        switch (in.ConsumeIntegralInRange(0, 9)) {
            case 0:
                return "/org/a11y/atspi/accessible/root";
            case 1:
                return "/org/a11y/atspi/null";
            case 2:
                return "/";
            default:
                return "/o/" + std::to_string(in.ConsumeIntegralInRange(0, 40));
        }
    }

    size_t count(size_t usual) {
        // Now and then a long array, else a short one.
        const size_t wanted = in.ConsumeProbability<float>() < 0.03f
                                  ? in.ConsumeIntegralInRange<size_t>(0, 20000)
                                  : in.ConsumeIntegralInRange<size_t>(0, usual);
        return std::min(wanted, budget);
    }

    void string(DBusMessageIter& iter, const std::string& value) {
        const char* raw = value.c_str();
        dbus_message_iter_append_basic(&iter, DBUS_TYPE_STRING, &raw);
    }
    void objectPath(DBusMessageIter& iter, const std::string& value) {
        const char* raw = value.c_str();
        dbus_message_iter_append_basic(&iter, DBUS_TYPE_OBJECT_PATH, &raw);
    }
    void int32(DBusMessageIter& iter, dbus_int32_t value) {
        dbus_message_iter_append_basic(&iter, DBUS_TYPE_INT32, &value);
    }
    void uint32(DBusMessageIter& iter, dbus_uint32_t value) {
        dbus_message_iter_append_basic(&iter, DBUS_TYPE_UINT32, &value);
    }
    dbus_int32_t anInt() {
        return in.ConsumeBool() ? pick(extremeInts) : in.ConsumeIntegral<dbus_int32_t>();
    }

    void ref(DBusMessageIter& iter) {
        DBusMessageIter inner;
        dbus_message_iter_open_container(&iter, DBUS_TYPE_STRUCT, nullptr, &inner);
        string(inner, pick(busNames));
        objectPath(inner, path());
        dbus_message_iter_close_container(&iter, &inner);
    }
    void refs(DBusMessageIter& iter, size_t usual) {
        DBusMessageIter array;
        dbus_message_iter_open_container(&iter, DBUS_TYPE_ARRAY, "(so)", &array);
        for (size_t n = count(usual); n > 0 && budget > 0; --n, --budget) ref(array);
        dbus_message_iter_close_container(&iter, &array);
    }
    void states(DBusMessageIter& iter) {
        // Mostly showing and visible, so that the outline has elements with places to read.
        constexpr dbus_uint32_t shown = (1u << 25) | (1u << 30);
        DBusMessageIter array;
        dbus_message_iter_open_container(&iter, DBUS_TYPE_ARRAY, "u", &array);
        for (int n = in.ConsumeIntegralInRange(0, 3); n > 0; --n)
            uint32(array, in.ConsumeIntegral<dbus_uint32_t>() | (in.ConsumeBool() ? shown : 0));
        dbus_message_iter_close_container(&iter, &array);
    }
    void interfaces(DBusMessageIter& iter) {
        DBusMessageIter array;
        dbus_message_iter_open_container(&iter, DBUS_TYPE_ARRAY, "s", &array);
        if (in.ConsumeBool()) string(array, "org.a11y.atspi.Component");
        for (int n = in.ConsumeIntegralInRange(0, 6); n > 0; --n)
            string(array, pick(interfaceNames));
        dbus_message_iter_close_container(&iter, &array);
    }
    uint32_t role() {
        return in.ConsumeBool() ? in.ConsumeIntegralInRange<uint32_t>(0, 130)
                                : in.ConsumeIntegral<uint32_t>();
    }

    // The bulk read: "a((so)(so)(so)iiassusau)".
    void cacheItems(DBusMessageIter& iter) {
        DBusMessageIter array;
        dbus_message_iter_open_container(&iter, DBUS_TYPE_ARRAY, "((so)(so)(so)iiassusau)", &array);
        for (size_t n = count(60); n > 0 && budget > 0; --n, --budget) {
            DBusMessageIter item;
            dbus_message_iter_open_container(&array, DBUS_TYPE_STRUCT, nullptr, &item);
            ref(item);
            ref(item);
            ref(item);
            int32(item, in.ConsumeBool() ? in.ConsumeIntegralInRange(-1, 8) : anInt());
            int32(item, in.ConsumeBool() ? in.ConsumeIntegralInRange(-1, 8) : anInt());
            interfaces(item);
            string(item, text());
            uint32(item, role());
            string(item, text());
            states(item);
            dbus_message_iter_close_container(&array, &item);
        }
        dbus_message_iter_close_container(&iter, &array);
    }

    void extents(DBusMessageIter& iter) {
        DBusMessageIter rect;
        dbus_message_iter_open_container(&iter, DBUS_TYPE_STRUCT, nullptr, &rect);
        for (int i = 0; i < 4; ++i) int32(rect, anInt());
        dbus_message_iter_close_container(&iter, &rect);
    }

    void stringMap(DBusMessageIter& iter) {
        DBusMessageIter array, entry;
        dbus_message_iter_open_container(&iter, DBUS_TYPE_ARRAY, "{ss}", &array);
        for (size_t n = count(4); n > 0 && budget > 0; --n, --budget) {
            dbus_message_iter_open_container(&array, DBUS_TYPE_DICT_ENTRY, nullptr, &entry);
            string(entry, in.ConsumeBool() ? "placeholder-text" : text());
            string(entry, text());
            dbus_message_iter_close_container(&array, &entry);
        }
        dbus_message_iter_close_container(&iter, &array);
    }

    // One property's value as a variant: mostly of its own type.
    void property(DBusMessageIter& iter, const std::string& name) {
        if (in.ConsumeProbability<float>() < 0.15f) {
            anyValue(iter, /*inVariant=*/true);
            return;
        }
        DBusMessageIter variant;
        if (name == "Parent") {
            dbus_message_iter_open_container(&iter, DBUS_TYPE_VARIANT, "(so)", &variant);
            ref(variant);
        } else if (name == "ChildCount" || name == "NActions") {
            dbus_message_iter_open_container(&iter, DBUS_TYPE_VARIANT, "i", &variant);
            int32(variant, in.ConsumeBool() ? in.ConsumeIntegralInRange(-1, 8) : anInt());
        } else if (name.ends_with("Value") || name == "MinimumIncrement") {
            dbus_message_iter_open_container(&iter, DBUS_TYPE_VARIANT, "d", &variant);
            const double number =
                in.ConsumeBool() ? pick(extremeDoubles) : in.ConsumeFloatingPoint<double>();
            dbus_message_iter_append_basic(&variant, DBUS_TYPE_DOUBLE, &number);
        } else {
            dbus_message_iter_open_container(&iter, DBUS_TYPE_VARIANT, "s", &variant);
            string(variant, text());
        }
        dbus_message_iter_close_container(&iter, &variant);
    }

    // "a{sv}" of the Accessible properties.
    void properties(DBusMessageIter& iter) {
        static const char* const names[] = {"Name",       "Description", "Parent",
                                            "ChildCount", "Locale",      "AccessibleId"};
        DBusMessageIter array, entry;
        dbus_message_iter_open_container(&iter, DBUS_TYPE_ARRAY, "{sv}", &array);
        for (int n = in.ConsumeIntegralInRange(0, 6); n > 0; --n) {
            const std::string name = pick(names);
            dbus_message_iter_open_container(&array, DBUS_TYPE_DICT_ENTRY, nullptr, &entry);
            string(entry, name);
            property(entry, name);
            dbus_message_iter_close_container(&array, &entry);
        }
        dbus_message_iter_close_container(&iter, &array);
    }

    // A complete type of any shape, nested at most `depth` deep.
    std::string signature(int depth) {
        static const char basics[] = "ybnqiuxtdsogh";
        const int kind = depth <= 0 ? 0 : in.ConsumeIntegralInRange(0, 5);
        switch (kind) {
            case 1:
                return "a" + signature(depth - 1);
            case 2: {
                std::string inner;
                for (int n = in.ConsumeIntegralInRange(1, 4); n > 0; --n)
                    inner += signature(depth - 1);
                return "(" + inner + ")";
            }
            case 3:
                return "a{" + std::string(1, basics[in.ConsumeIntegralInRange(0, 11)]) +
                       signature(depth - 1) + "}";
            case 4:
                return "v";
            default:
                // Unix file descriptors ('h') cannot travel in a message made in memory.
                return std::string(1, basics[in.ConsumeIntegralInRange(0, 11)]);
        }
    }

    // Appends one value of `type` (one complete type at the start of `type`, which is moved
    // past it).
    void valueOf(DBusMessageIter& iter, std::string_view& type, int depth) {
        const char code = type.front();
        type.remove_prefix(1);
        switch (code) {
            case 'a': {
                const std::string element(type.substr(0, completeLength(type)));
                DBusMessageIter array;
                dbus_message_iter_open_container(&iter, DBUS_TYPE_ARRAY, element.c_str(), &array);
                for (size_t n = count(5); n > 0 && budget > 0; --n, --budget) {
                    std::string_view rest = element;
                    valueOf(array, rest, depth + 1);
                }
                dbus_message_iter_close_container(&iter, &array);
                type.remove_prefix(element.size());
                break;
            }
            case '(':
            case '{': {
                DBusMessageIter inner;
                dbus_message_iter_open_container(
                    &iter, code == '(' ? DBUS_TYPE_STRUCT : DBUS_TYPE_DICT_ENTRY, nullptr, &inner);
                while (type.front() != ')' && type.front() != '}') valueOf(inner, type, depth + 1);
                type.remove_prefix(1);
                dbus_message_iter_close_container(&iter, &inner);
                break;
            }
            case 'v':
                anyValue(iter, /*inVariant=*/true, depth + 1);
                break;
            case 's':
                string(iter, text());
                break;
            case 'o':
                objectPath(iter, path());
                break;
            case 'g': {
                const char* empty = "";
                dbus_message_iter_append_basic(&iter, DBUS_TYPE_SIGNATURE, &empty);
                break;
            }
            case 'b': {
                const dbus_bool_t value = in.ConsumeBool();
                dbus_message_iter_append_basic(&iter, DBUS_TYPE_BOOLEAN, &value);
                break;
            }
            case 'd': {
                const double value =
                    in.ConsumeBool() ? pick(extremeDoubles) : in.ConsumeFloatingPoint<double>();
                dbus_message_iter_append_basic(&iter, DBUS_TYPE_DOUBLE, &value);
                break;
            }
            default: {  // the integers: eight bytes of input, cut to the type's width
                const uint64_t value = in.ConsumeIntegral<uint64_t>();
                dbus_message_iter_append_basic(&iter, code, &value);
                break;
            }
        }
    }

    // The length of the complete type at the start of `type`.
    static size_t completeLength(std::string_view type) {
        if (type.front() == 'a') return 1 + completeLength(type.substr(1));
        if (type.front() != '(' && type.front() != '{') return 1;
        int depth = 0;
        for (size_t i = 0; i < type.size(); ++i) {
            if (type[i] == '(' || type[i] == '{') ++depth;
            if ((type[i] == ')' || type[i] == '}') && --depth == 0) return i + 1;
        }
        return type.size();
    }

    // Any value, or a variant holding one.
    void anyValue(DBusMessageIter& iter, bool inVariant, int depth = 0) {
        const std::string type = signature(depth > 3 ? 0 : 3);
        std::string_view rest = type;
        if (!inVariant) {
            valueOf(iter, rest, depth);
            return;
        }
        DBusMessageIter variant;
        dbus_message_iter_open_container(&iter, DBUS_TYPE_VARIANT, type.c_str(), &variant);
        valueOf(variant, rest, depth);
        dbus_message_iter_close_container(&iter, &variant);
    }

    // The reply a well-behaved application gives to `call`, with contents of any kind.
    void expected(DBusMessageIter& iter, DBusMessage* call) {
        const std::string member = dbus_message_get_member(call);
        if (member == "GetItems") {
            cacheItems(iter);
        } else if (member == "GetChildren" || member == "GetMatches") {
            refs(iter, 12);
        } else if (member == "GetExtents") {
            extents(iter);
        } else if (member == "GetRole" || member == "GetIndexInParent") {
            uint32(iter, role());
        } else if (member == "GetState") {
            states(iter);
        } else if (member == "GetInterfaces") {
            interfaces(iter);
        } else if (member == "GetAttributes") {
            stringMap(iter);
        } else if (member == "GetAll") {
            properties(iter);
        } else if (member == "Get") {
            const char* interface = "";
            const char* name = "";
            dbus_message_get_args(call, nullptr, DBUS_TYPE_STRING, &interface, DBUS_TYPE_STRING,
                                  &name, DBUS_TYPE_INVALID);
            property(iter, name);
        } else if (member == "GetText" || member == "GetName" || member == "GetKeyBinding" ||
                   member == "GetDescription" || member == "GetLocalizedName") {
            string(iter, text());
        } else if (member == "GetSelection") {
            int32(iter, anInt());
            int32(iter, anInt());
        } else if (member == "GetChildAtIndex" || member == "GetParent") {
            ref(iter);
        } else {  // actions, sets, focus: a yes or a no
            const dbus_bool_t done = in.ConsumeBool();
            dbus_message_iter_append_basic(&iter, DBUS_TYPE_BOOLEAN, &done);
        }
    }
};

// An application on the accessibility bus that answers every call from the fuzz input, and
// the registry that lists it. Time passes on the virtual clock as the real client's waits
// would take it: a batch costs a round trip, and a batch with an unanswered call the
// application's whole timeout (the calls of a batch wait side by side).
class FakeBus final : public AtspiClient {
  public:
    FakeBus(FuzzedDataProvider& in, VirtualClock& clock) : in_(in), clock_(clock) {}

    std::vector<App> applications() override { return {{appName, appPid}}; }
    std::string busNameOf(pid_t pid) override { return pid == appPid ? appName : ""; }
    std::optional<pid_t> pidOf(const std::string& name) override {
        if (name == appName) return appPid;
        return std::nullopt;
    }
    std::optional<bool> toolkitAccessibilityEnabled() override { return true; }
    bool enableToolkitAccessibility() override { return true; }
    bool answers() override { return true; }
    void setTimeout(const std::string&, int milliseconds) override { timeoutMs_ = milliseconds; }
    BusTraffic traffic() override { return traffic_; }

    std::vector<CallResult> callAll(std::vector<Call> calls) override {
        ++traffic_.waits;
        traffic_.calls += static_cast<long>(calls.size());
        bool unanswered = false;
        std::vector<CallResult> results;
        for (auto& call : calls) results.push_back(answer(call, unanswered));
        clock_.advance(unanswered ? std::chrono::milliseconds(timeoutMs_)
                                  : std::chrono::milliseconds(in_.ConsumeIntegralInRange(0, 30)));
        return results;
    }

  private:
    CallResult answer(const Call& call, bool& unanswered) {
        CallResult result;
        if (!call.message) {
            result.errorName = DBUS_ERROR_NO_MEMORY;
            return result;
        }
        if (call.busName != appName) {
            result.errorName = DBUS_ERROR_SERVICE_UNKNOWN;
            return result;
        }
        // Once the input is used up the application says nothing more of substance.
        const int kind = in_.remaining_bytes() == 0 ? 0 : in_.ConsumeIntegralInRange(0, 15);
        if (kind == 14 || kind == 15) {
            result.errorName = Writer{in_, 0}.pick(errorNames);
            if (result.errorName == DBUS_ERROR_NO_REPLY) unanswered = true;
            return result;
        }
        MessagePtr reply(dbus_message_new(DBUS_MESSAGE_TYPE_METHOD_RETURN));
        DBusMessageIter iter;
        dbus_message_iter_init_append(reply.get(), &iter);
        Writer writer{in_, 40000};
        if (kind == 12) {
            writer.anyValue(iter, /*inVariant=*/false);
        } else if (kind == 13) {
            // Nothing at all, or two values where one is expected.
            if (in_.ConsumeBool()) {
                writer.anyValue(iter, false);
                writer.anyValue(iter, false);
            }
        } else if (kind != 0 || in_.remaining_bytes() > 0) {
            writer.expected(iter, call.message.get());
        }
        result.reply = std::move(reply);
        return result;
    }

    FuzzedDataProvider& in_;
    VirtualClock& clock_;
    int timeoutMs_ = defaultCallTimeoutMs;
    BusTraffic traffic_;
};

// The window system: the application's one window somewhere, or none.
class FakeWindows final : public WindowSystem {
  public:
    explicit FakeWindows(FuzzedDataProvider& in) {
        if (in.ConsumeBool()) {
            WindowInfo window;
            window.id = 7;
            window.pid = appPid;
            window.title = repairUTF8(in.ConsumeRandomLengthString(40));
            window.frame = {{static_cast<double>(in.ConsumeIntegralInRange(-3000, 3000)),
                             static_cast<double>(in.ConsumeIntegralInRange(-3000, 3000))},
                            {static_cast<double>(in.ConsumeIntegralInRange(0, 4000)),
                             static_cast<double>(in.ConsumeIntegralInRange(0, 4000))}};
            windows_.push_back(window);
        }
    }
    Point primaryOrigin() override { return {}; }
    std::vector<WindowInfo> windows() override { return windows_; }
    std::optional<pid_t> activePid() override { return appPid; }
    uint64_t activeWindow() override { return windows_.empty() ? 0 : windows_.front().id; }
    bool activate(uint64_t) override { return true; }
    bool minimize(uint64_t) override { return true; }

  private:
    std::vector<WindowInfo> windows_;
};

bool knownError(int error) {
    switch (error) {
        case axSuccess:
        case axFailure:
        case axIllegalArgument:
        case axInvalidElement:
        case axCannotComplete:
        case axAttributeUnsupported:
        case axActionUnsupported:
        case axNoValue:
            return true;
        default:
            return false;
    }
}

void checkFrame(const std::optional<Rect>& frame, const std::string& what) {
    if (!frame) return;
    for (const double number :
         {frame->origin.x, frame->origin.y, frame->size.width, frame->size.height}) {
        if (!std::isfinite(number) || std::abs(number) > 2.0 * maxCoordinate)
            fault("a frame beyond any screen", what);
    }
}

void checkOutline(const TreeWriter& writer, int64_t maxChars, Duration elapsed,
                  Duration oneElement) {
    const auto& lines = writer.lines;
    if (writer.elements.size() != lines.size()) fault("numbered elements and lines differ", "");
    int64_t index = 1, chars = 0;
    for (const auto& [number, element] : writer.elements) {
        if (number != index++) fault("indexes with a gap", std::to_string(number));
    }
    for (size_t i = 0; i < lines.size(); ++i) {
        if (chars > maxChars) fault("a line written after the character budget ran out", lines[i]);
        if (!isValidUTF8(lines[i])) fault("a line that is not UTF-8", lines[i]);
        if (lines[i].find('\n') != std::string::npos) fault("a line holds a line break", lines[i]);
        const std::string start = "[" + std::to_string(i + 1) + "] ";
        if (lines[i].find(start) == std::string::npos) fault("a line without its index", lines[i]);
        chars += static_cast<int64_t>(graphemeCount(lines[i])) + 1;
    }
    if (writer.visited > visitBudget + 1 + static_cast<int64_t>(peekVisits))
        fault("the visit budget was passed", std::to_string(writer.visited));
    if (!writer.truncated && elapsed > timeBudget + oneElement)
        fault("an outline pass ran past its time budget without stopping",
              std::to_string(inSeconds(elapsed)) + " s");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    const int64_t maxChars = in.ConsumeIntegralInRange<int64_t>(0, 20000);
    const bool overview = in.ConsumeBool();
    VirtualClock clock;
    ChangeCount changes;
    FakeWindows windows(in);
    FakeBus bus(in, clock);
    LinuxAccessibility ax(bus, windows, clock, changes);

    // What a state request reads.
    const Element app = ax.applicationElement(appPid);
    ax.setMessagingTimeout(app, stateMessagingTimeoutSeconds);
    const int switched = ax.setAttribute(app, "AXManualAccessibility", true);
    if (!knownError(switched)) fault("an unknown error number", std::to_string(switched));
    JSON result = JSON::object();
    for (const auto& window : elementList(ax, app, "AXWindows"))
        result["windows"].push_back(str(ax, window, "AXTitle").value_or(""));
    if (const Element menuBar = elementAttr(ax, app, "AXMenuBar")) {
        for (const auto& menu : children(ax, menuBar))
            result["menus"].push_back(str(ax, menu, "AXTitle").value_or(""));
    }
    const Element window = pickWindow(ax, app, std::nullopt);
    if (window) {
        const std::optional<Rect> bounds = frameOf(ax, window);
        checkFrame(bounds, "the window");
        const Instant start = clock.now();
        TreeWriter writer(ax, clock, maxChars, bounds, overview, 1);
        writer.walk(window, 0, 0);
        // The reads of one element: its attributes, its actions, the children a view makes
        // and the objects below them, each a batch that may wait the whole call timeout, and a
        // busy document waited for.
        const Duration oneElement = seconds(8 * stateMessagingTimeoutSeconds + 3);
        checkOutline(writer, maxChars, clock.now() - start, oneElement);
        result["tree"] = writer.outline();
        hasEmptyWebArea(ax, window);

        // What a click asks of the numbered elements: where they are, what they offer, their
        // ancestors; then the press.
        int pressed = 0;
        for (const auto& [index, element] : writer.elements) {
            if (index > 30) break;
            checkFrame(frameOf(ax, element), writer.lines[static_cast<size_t>(index - 1)]);
            result["roles"].push_back(str(ax, element, "AXRole").value_or(""));
            for (const auto& action : actionsOf(ax, element)) result["actions"].push_back(action);
            Element at = element;
            for (int up = 0; at && up < 8; ++up) at = elementAttr(ax, at, "AXParent");
            if (pressed++ < 3) {
                const int error = ax.performAction(element, "AXPress");
                if (!knownError(error)) fault("an unknown error number", std::to_string(error));
            }
        }
    }
    if (!compactJSON(result)) fault("what was read does not make JSON", "");
    return 0;
}

// Messages as the resident receives them through its port, and client command lines encoded
// into messages and shown by the resident, on the simulated desktop in virtual time.
//
// The input is split at NUL bytes into steps. In the first mode (first byte even) each step is
// a raw payload, except that a step starting with byte 1 lets time pass (the next byte in tens
// of milliseconds) and one starting with byte 2 clicks the newest card. In the second mode the
// steps are the arguments of one client command line.
//
// What must hold: nothing crashes or leaks; at most four cards show, never two with one id;
// the resident keeps its port while a card shows; a command line of valid UTF-8 that names a
// post with an id and a title always encodes, and the resident then shows that card at the top
// with exactly those texts.
#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include "fake-ports.h"
#include "fuzz-support.h"
#include "message.h"
#include "resident.h"
#include "sim/sim-app-icons.h"
#include "sim/sim-windowing.h"
#include "utf8.h"

namespace {

using namespace pelko;
using namespace pelko::notifier;

[[noreturn]] void fault(const std::string& what, const std::string& detail) {
    pelko::fuzzing::fault("notifier-message", what, detail);
}

struct Desktop {
    VirtualClock clock;
    SimWindowing windowing{clock};
    testing::FakePorts ports;
    SimAppIcons icons;
    std::shared_ptr<Resident> resident =
        std::make_shared<Resident>(Platform{windowing, ports, icons});

    Desktop() {
        windowing.keepRecords(false);
        resident->applicationDidFinishLaunching();
    }

    void deliver(const std::string& payload) {
        ports.callback(1, payload);
        windowing.runPending();
    }

    void check(const std::string& step) {
        std::set<std::string> shown;
        for (const auto& card : resident->cards()) {
            if (card->leaving) continue;
            if (!shown.insert(card->content.id).second) fault("two cards with one id", step);
        }
        if (shown.size() > Resident::maxCards) fault("more than four cards show", step);
        if (!shown.empty() && windowing.exitStatus()) fault("the resident left its cards", step);
    }
};

void rawPayloads(const std::vector<std::string>& parts) {
    Desktop desktop;
    for (const std::string& part : parts) {
        if (desktop.windowing.exitStatus()) break;
        if (part.size() >= 1 && part[0] == '\x01') {
            const int tens = part.size() >= 2 ? static_cast<unsigned char>(part[1]) : 100;
            desktop.windowing.advance(std::chrono::milliseconds(10 * tens));
        } else if (part.size() >= 1 && part[0] == '\x02') {
            for (const auto& card : desktop.resident->cards()) {
                if (card->leaving) continue;
                const Rect frame = card->panel->frame();
                desktop.windowing.click({frame.midX(), frame.y + frame.height / 2});
                break;
            }
            desktop.windowing.runPending();
        } else {
            desktop.deliver(part);
        }
        desktop.check(part);
    }
    // Whatever was shown goes away in time, and the resident then leaves on its own.
    desktop.windowing.advance(std::chrono::seconds(120));
}

void commandLine(const std::vector<std::string>& args) {
    const auto message = encodeCommand(args);
    bool allValid = true;
    for (const auto& arg : args) allValid = allValid && isValidUTF8(arg);
    const auto firstAfter = [&](const std::string& flag) -> std::optional<std::string> {
        for (size_t i = 0; i + 1 < args.size(); ++i)
            if (args[i] == flag) return args[i + 1];
        return std::nullopt;
    };
    const auto id = firstAfter("--id");
    const auto title = firstAfter("--title");
    const bool isPost = !args.empty() && args[0] == "post" && id && title;
    if (isPost && allValid && !message) fault("a valid post did not encode", *id);
    if (!message) return;
    const auto decoded = parseJSON(*message);
    if (!decoded || !decoded->is_object()) fault("an encoded message that is no object", *message);

    Desktop desktop;
    desktop.deliver(*message);
    desktop.check(*message);
    if (!isPost) return;
    const auto& cards = desktop.resident->cards();
    if (cards.empty() || cards.front()->leaving) fault("a post shows no card", *message);
    const CardContent& content = cards.front()->content;
    if (content.id != *id || content.title != *title) fault("a card with other texts", *message);
    if (const auto kind = firstAfter("--kind"); content.kind != kind.value_or("done"))
        fault("a card of another kind", *message);
    if (content.body != firstAfter("--body").value_or("") ||
        content.subtitle != firstAfter("--subtitle").value_or("") ||
        content.url != firstAfter("--url").value_or("") ||
        content.appPath != firstAfter("--app").value_or(""))
        fault("a card whose optional texts changed", *message);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const auto parts = pelko::fuzzing::splitAtNul(
        std::string_view(reinterpret_cast<const char*>(data + 1), size - 1));
    if (data[0] % 2 == 0)
        rawPayloads(parts);
    else
        commandLine(parts);
    return 0;
}

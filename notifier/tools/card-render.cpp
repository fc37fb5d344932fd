// pelko-notifier-card: draws notification cards to PNG files so a person can look at them.
//
//   pelko-notifier-card OUT.png [--hover] post --id ID --title TITLE [--subtitle ...] ...
//       draws the card that the same post would show (--hover: with the close button)
//   pelko-notifier-card --reference DIR
//       regenerates the reference pictures kept in docs/notifier-cards/
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "card-view.h"
#include "linux/freedesktop-icons.h"
#include "message.h"

namespace {

using namespace pelko;
using namespace pelko::notifier;

struct Reference {
    const char* file;
    bool hover;
    std::vector<std::string> args;
};

const std::vector<Reference> references = {
    {"title-only.png", false, {"post", "--id", "a", "--title", "Build finished"}},
    {"input.png",
     false,
     {"post", "--id", "b", "--title", "Pelko needs your input", "--subtitle", "Deploy to staging",
      "--body", "Approve the database migration before the agent continues.", "--kind", "input"}},
    {"failed.png",
     true,
     {"post", "--id", "c", "--title", "Task failed", "--body",
      "The test suite stopped after 3 failures in the payment module.", "--kind", "failed"}},
    {"body-three-lines.png",
     false,
     {"post", "--id", "d", "--title", "Summary ready", "--body",
      "one\ntwo\nthree\nfour\nfive\nsix\nseven\neight\nnine\nten"}},
    {"right-to-left.png",
     false,
     {"post", "--id", "e", "--title", "סיכום מוכן", "--subtitle", "Pelko", "--body",
      "העבודה הסתיימה בהצלחה. אפשר לפתוח את הדוח המלא מכאן."}},
    {"mixed-scripts.png",
     false,
     {"post", "--id", "f", "--title", "Weekly report ready 📊", "--subtitle", "数据 · データ · 데이터",
      "--body", "Alle Zahlen sind da. … Überprüfung nötig: 数据 📊 ✅"}},
};

bool render(const std::vector<std::string>& args, bool hover, const std::string& out) {
    auto message = encodeCommand(args);
    auto json = message ? parseJSON(*message) : std::nullopt;
    auto content = json ? CardContent::fromMessage(*json) : std::nullopt;
    if (!content) {
        std::cerr << "pelko-notifier-card: a post needs --id and --title\n";
        return false;
    }
    // The icon of --app is found as the resident on this desktop finds it.
    const FreedesktopAppIcons appIcons;
    CardView view(*content, appIcons);
    if (hover) view.pointerEntered();
    if (!renderCardPNG(view, out)) {
        std::cerr << "pelko-notifier-card: cannot write " << out << "\n";
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() == 2 && args[0] == "--reference") {
        for (const Reference& reference : references) {
            if (!render(reference.args, reference.hover,
                        (std::filesystem::path(args[1]) / reference.file).string()))
                return 1;
        }
        return 0;
    }
    if (args.size() >= 2) {
        std::string out = args[0];
        args.erase(args.begin());
        bool hover = args[0] == "--hover";
        if (hover) args.erase(args.begin());
        if (!args.empty() && args[0] == "post") return render(args, hover, out) ? 0 : 1;
    }
    std::cerr << "usage: pelko-notifier-card OUT.png [--hover] post --id ID --title TITLE ...\n"
                 "       pelko-notifier-card --reference DIR\n";
    return 2;
}

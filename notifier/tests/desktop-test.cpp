// pelko-notifier on a real X11 desktop (scripts/desktop-session), from the outside: cards
// posted through the real client are found on the screen's picture, and a pointer played from
// another X client (xdotool) clicks, closes, drags and swipes them. URLs go to a recording
// opener named by PELKO_NOTIFIER_OPENER.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <sstream>

#include "card-pictures.h"
#include "child-process.h"
#include "linux/x11-screens.h"
#include "resident-log.h"
#include "x11-desktop.h"

namespace pelko::notifier {
namespace {

using namespace pelko::testing;
using notifier::testing::CardComparison;
using notifier::testing::compareCard;
using notifier::testing::drawCard;

/// Cards stand in the top rows of the 1920 × 1200 screen, centred at x 960.
constexpr int screenWidth = 1920;
constexpr int stackRows = 600;
constexpr int cardLeft = 760;
constexpr int firstTop = 12;
constexpr int gap = 10;

class Desktop : public ::testing::Test {
  protected:
    void SetUp() override {
        if (std::string reason = desktopUnavailableReason(); !reason.empty())
            GTEST_SKIP() << reason;
        ASSERT_TRUE(display.get());
        ::chmod(runtime.path().c_str(), 0700);
        writeFile(opener, "#!/bin/sh\nprintf '%s\\n' \"$1\" >> " + openedPath.string() + "\n");
        ::chmod(opener.c_str(), 0700);
        // The pointer rests away from where cards come.
        ASSERT_TRUE(xdotool({"mousemove", "100", "1100"}));
        background = grabScreen(display.get(), 0, 0, screenWidth, stackRows);
    }
    void TearDown() override {
        for (pid_t pid : residents()) ::kill(pid, SIGKILL);
    }

    /// Runs the client with `args`; its exit status.
    std::optional<ExitStatus> notifier(const std::vector<std::string>& args) {
        std::vector<std::string> argv{NOTIFIER_BINARY};
        argv.insert(argv.end(), args.begin(), args.end());
        ChildOptions options;
        options.environment = {{"XDG_RUNTIME_DIR", runtime.path().string()},
                               {"PELKO_NOTIFIER_LOG", logPath.string()},
                               {"PELKO_NOTIFIER_OPENER", opener.string()}};
        options.nullStdin = true;
        ChildProcess client(argv, options);
        return client.waitExit(Timeout(15000));
    }
    void post(const JSON& message) {
        std::vector<std::string> args{"post"};
        for (const auto& [key, value] : message.items())
            args.insert(args.end(), {"--" + key, value.get<std::string>()});
        ASSERT_EQ(notifier(args), (ExitStatus{true, 0, 0}));
    }
    /// The height the card of `message` has, as its view measures it.
    static int heightOf(const JSON& message) {
        return cairo_image_surface_get_height(drawCard(*CardContent::fromMessage(message)).get());
    }

    /// The cards on the screen's picture, top to bottom: the runs of rows that differ from the
    /// empty desktop down the middle column, each as wide as its middle row differs.
    std::vector<PixelRect> cardsOnScreen() {
        SurfacePtr now = grabScreen(display.get(), 0, 0, screenWidth, stackRows);
        auto differs = [&](int x, int y) {
            return pixelAt(now.get(), x, y) != pixelAt(background.get(), x, y);
        };
        std::vector<PixelRect> cards;
        for (int y = 0; y < stackRows;) {
            if (!differs(screenWidth / 2, y)) {
                ++y;
                continue;
            }
            int top = y;
            while (y < stackRows && differs(screenWidth / 2, y)) ++y;
            int middle = (top + y) / 2;
            int left = 0, right = screenWidth;
            while (left < screenWidth && !differs(left, middle)) ++left;
            while (right > left && !differs(right - 1, middle)) --right;
            cards.push_back({left, top, right - left, y - top});
        }
        return cards;
    }
    /// Waits until the screen shows exactly `expected` (after the cards' animations).
    void expectCards(const std::vector<PixelRect>& expected) {
        std::vector<PixelRect> seen;
        bool shown = waitUntil([&] { return (seen = cardsOnScreen()) == expected; });
        std::ostringstream text;
        for (const PixelRect& r : seen)
            text << "(" << r.x << ", " << r.y << ", " << r.width << ", " << r.height << ") ";
        EXPECT_TRUE(shown) << "the screen shows " << text.str() << "\nthe resident's log:\n"
                           << log();
    }
    /// The stack of cards of these heights, newest (first) at the top.
    static std::vector<PixelRect> stack(const std::vector<int>& heights, int x = cardLeft) {
        std::vector<PixelRect> cards;
        int top = firstTop;
        for (int height : heights) {
            cards.push_back({x, top, 400, height});
            top += height + gap;
        }
        return cards;
    }

    std::string log() const { return readFile(logPath); }
    std::vector<pid_t> residents() const { return notifier::testing::residentsIn(log()); }
    bool waitForLog(const std::string& text) const {
        return waitUntil([&] { return log().find(text) != std::string::npos; });
    }
    std::string opened() const { return readFile(openedPath); }

    DisplayConnection display;
    ScopedTempDir runtime;
    ScopedTempDir files;
    std::filesystem::path logPath = files / "resident.log";
    std::filesystem::path opener = files / "record-url";
    std::filesystem::path openedPath = files / "opened";
    SurfacePtr background;
};

const JSON titleOnly{{"id", "a"}, {"title", "Build finished"}};
const JSON withBody{{"id", "b"},
                    {"title", "Task failed"},
                    {"body", "The test suite stopped after 3 failures in the payment module."},
                    {"kind", "failed"}};
const JSON withSubtitle{{"id", "c"},
                        {"title", "Pelko needs your input"},
                        {"subtitle", "Deploy to staging"},
                        {"body", "Approve the database migration."},
                        {"kind", "input"}};

TEST_F(Desktop, ThreeCardsStackAtTheTopOfThePointersScreen) {
    post(titleOnly);
    post(withBody);
    post(withSubtitle);
    EXPECT_EQ(heightOf(titleOnly), 64);  // the icon and its margins
    expectCards(stack({heightOf(withSubtitle), heightOf(withBody), 64}));
    EXPECT_NE(log().find("windowing x11 :"), std::string::npos);
    EXPECT_EQ(residents().size(), 1u);

    // The newest card shows exactly what its view draws, over the empty desktop.
    SurfacePtr card = drawCard(*CardContent::fromMessage(withSubtitle));
    const int height = cairo_image_surface_get_height(card.get());
    SurfacePtr shown = grabScreen(display.get(), cardLeft, firstTop, 400, height);
    SurfacePtr before = grabScreen(display.get(), cardLeft, firstTop, 400, height);
    {
        CairoPtr cairo(cairo_create(before.get()));
        cairo_set_source_surface(cairo.get(), background.get(), -cardLeft, -firstTop);
        cairo_paint(cairo.get());
    }
    CardComparison comparison = compareCard(shown.get(), card.get(), before.get());
    EXPECT_EQ(comparison.differentInside, 0);
    EXPECT_EQ(comparison.differentAtEdges, 0);
}

TEST_F(Desktop, TheFifthCardPushesTheOldestOut) {
    // Four cards may show; the oldest is the tall one, so the screen tells which one left.
    post(withBody);
    for (std::string id : {"1", "2", "3"}) post({{"id", id}, {"title", "Card " + id}});
    expectCards(stack({64, 64, 64, heightOf(withBody)}));
    post({{"id", "4"}, {"title", "Card 4"}});
    expectCards(stack({64, 64, 64, 64}));
    EXPECT_TRUE(waitForLog("panel 1 closed"));
}

TEST_F(Desktop, AClickOpensTheCardsURLAndDismissesIt) {
    JSON linked = titleOnly;
    linked["url"] = "https://example.com/report?id=7";
    JSON unparsable{{"id", "bad"}, {"title", "Not a link"}, {"url", "not a url"}};
    post(linked);
    post(unparsable);
    expectCards(stack({64, 64}));

    // A URL that cannot be parsed is not opened; the card goes all the same.
    ASSERT_TRUE(xdotool({"mousemove", "960", "44", "click", "1"}));
    expectCards(stack({64}));
    ASSERT_TRUE(waitForLog("panel 2 closed"));
    EXPECT_EQ(opened(), "");

    ASSERT_TRUE(xdotool({"mousemove", "960", "44", "click", "1"}));
    ASSERT_TRUE(waitUntil([&] { return !opened().empty(); }));
    EXPECT_EQ(opened(), "https://example.com/report?id=7\n");
    expectCards({});
}

TEST_F(Desktop, TheCloseButtonShowsUnderThePointerAndClosesTheCardInPlace) {
    JSON linked = titleOnly;
    linked["url"] = "https://example.com";
    post(linked);
    expectCards(stack({64}));
    SurfacePtr plain = drawCard(*CardContent::fromMessage(linked));
    SurfacePtr hovered = drawCard(*CardContent::fromMessage(linked), 1, true);
    SurfacePtr behind(cairo_image_surface_create(CAIRO_FORMAT_RGB24, 400, 64));
    {
        CairoPtr cairo(cairo_create(behind.get()));
        cairo_set_source_surface(cairo.get(), background.get(), -cardLeft, -firstTop);
        cairo_paint(cairo.get());
    }
    auto shownAs = [&](cairo_surface_t* card) {
        SurfacePtr shown = grabScreen(display.get(), cardLeft, firstTop, 400, 64);
        return compareCard(shown.get(), card, behind.get()).differentInside == 0;
    };
    EXPECT_TRUE(shownAs(plain.get()));

    ASSERT_TRUE(xdotool({"mousemove", "960", "44"}));
    EXPECT_TRUE(waitUntil([&] { return shownAs(hovered.get()); }));
    ASSERT_TRUE(xdotool({"mousemove", "960", "300"}));  // off the card: hidden again
    EXPECT_TRUE(waitUntil([&] { return shownAs(plain.get()); }));

    // The button's centre is 10 points from the card's top-left corner.
    ASSERT_TRUE(xdotool(
        {"mousemove", std::to_string(cardLeft + 10), std::to_string(firstTop + 10), "click", "1"}));
    expectCards({});
    ASSERT_TRUE(waitForLog("panel 1 closed"));
    EXPECT_EQ(log().find(" open "), std::string::npos) << "the close button never opens the URL";
    EXPECT_EQ(opened(), "");
}

TEST_F(Desktop, ShortDragsSnapBackAndLongOnesSwipeTheCardAway) {
    JSON linked = titleOnly;
    linked["url"] = "https://example.com";
    post(linked);
    expectCards(stack({64}));

    // 50 pixels to the right: the card follows the pointer while the button is held...
    ASSERT_TRUE(xdotool({"mousemove", "960", "44", "mousedown", "1", "mousemove", "980", "44",
                         "mousemove", "1010", "44"}));
    expectCards(stack({64}, cardLeft + 50));
    // ...and goes back when it is released, neither opened nor dismissed.
    ASSERT_TRUE(xdotool({"mouseup", "1"}));
    expectCards(stack({64}));

    // 120 pixels to the left, past the 90-point swipe distance: the card slides away.
    ASSERT_TRUE(xdotool(
        {"mousedown", "1", "mousemove", "900", "44", "mousemove", "840", "44", "mouseup", "1"}));
    expectCards({});
    ASSERT_TRUE(waitForLog("panel 1 closed"));
    EXPECT_EQ(opened(), "");
}

TEST_F(Desktop, ACardShowsTheIconOfItsApp) {
    // An app whose icon is one colour: the card's 36-point icon square shows it.
    const auto icon = files / "app.png";
    SurfacePtr square(cairo_image_surface_create(CAIRO_FORMAT_RGB24, 64, 64));
    {
        CairoPtr cairo(cairo_create(square.get()));
        cairo_set_source_rgb(cairo.get(), 0xCC / 255.0, 0x22 / 255.0, 0x33 / 255.0);
        cairo_paint(cairo.get());
    }
    ASSERT_EQ(cairo_surface_write_to_png(square.get(), icon.c_str()), CAIRO_STATUS_SUCCESS);
    JSON withIcon = titleOnly;
    withIcon["app"] = icon.string();
    post(withIcon);
    expectCards(stack({64}));
    uint32_t middle = 0, corner = 0;
    EXPECT_TRUE(waitUntil([&] {
        SurfacePtr shown = grabScreen(display.get(), cardLeft + 16, firstTop + 14, 36, 36);
        middle = pixelAt(shown.get(), 18, 18);
        corner = pixelAt(shown.get(), 3, 3);
        return middle == 0xFFCC2233u && corner == 0xFFCC2233u;
    })) << std::hex
        << middle << " " << corner;
}

TEST_F(Desktop, ClearRemovesTheCardsItNames) {
    post(titleOnly);
    post(withBody);
    expectCards(stack({heightOf(withBody), 64}));
    EXPECT_EQ(notifier({"clear", "--id", "unknown"}), (ExitStatus{true, 0, 0}));
    EXPECT_EQ(notifier({"clear", "--id", "b"}), (ExitStatus{true, 0, 0}));
    expectCards(stack({64}));
    EXPECT_EQ(notifier({"clear", "--id", "a"}), (ExitStatus{true, 0, 0}));
    expectCards({});
}

}  // namespace
}  // namespace pelko::notifier

// The resident card stack on the simulated desktop, in virtual time.
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

#include "child-process.h"
#include "fake-ports.h"
#include "resident.h"
#include "sim/sim-app-icons.h"
#include "sim/sim-windowing.h"

namespace pelko::notifier {
namespace {

using testing::FakePorts;

/// The default simulated screen: 1440 × 900, visible area up to y 875; cards are centred at
/// x 720, so they start at x 520, and the first one's top is at 875 - 12 = 863.
constexpr double cardX = 520;
constexpr double firstTop = 863;
/// A card with a title only is 64 points high.
constexpr double shortCard = 64;

class Stack : public ::testing::Test {
  protected:
    void SetUp() override { resident->applicationDidFinishLaunching(); }

    /// Hands a payload to the port's callback as the port would, and lets the main queue run.
    void deliver(const std::string& payload) {
        ports.callback(1, payload);
        desktop.runPending();
    }
    void post(const std::string& id, JSON extra = JSON::object()) {
        JSON message{{"cmd", "post"}, {"id", id}, {"title", "Card " + id}};
        message.update(extra);
        deliver(message.dump());
    }
    void clear(const std::vector<std::string>& ids) {
        deliver(JSON{{"cmd", "clear"}, {"ids", ids}}.dump());
    }
    std::vector<std::string> ids() const {
        std::vector<std::string> out;
        for (const auto& card : resident->cards())
            out.push_back(card->content.id + (card->leaving ? " leaving" : ""));
        return out;
    }
    std::shared_ptr<Card> card(const std::string& id) const {
        for (const auto& c : resident->cards())
            if (c->content.id == id && !c->leaving) return c;
        return nullptr;
    }
    SimPanel& panel(const std::string& id) const {
        return static_cast<SimPanel&>(*card(id)->panel);
    }
    /// The log lines since `from`, without their times.
    std::vector<std::string> logSince(size_t from) const {
        std::vector<std::string> lines;
        for (size_t i = from; i < desktop.log().size(); ++i)
            lines.push_back(desktop.log()[i].substr(desktop.log()[i].find(' ') + 1));
        return lines;
    }
    bool logHas(const std::string& line) const {
        auto lines = logSince(0);
        return std::find(lines.begin(), lines.end(), line) != lines.end();
    }
    Point middleOf(const std::string& id) const {
        Rect f = panel(id).frame();
        return {f.midX(), f.y + f.height / 2};
    }

    VirtualClock clock;
    SimWindowing desktop{clock};
    FakePorts ports;
    SimAppIcons icons;
    std::shared_ptr<Resident> resident =
        std::make_shared<Resident>(Platform{desktop, ports, icons});
};

TEST(StackInTheProgram, KeepsNoRecordsButMirrorsEveryLine) {
    // The program's resident may live for days: what it does goes to the mirror only, never
    // into memory.
    VirtualClock clock;
    SimWindowing desktop{clock};
    desktop.keepRecords(false);
    std::ostringstream mirror;
    desktop.mirrorLog(&mirror);
    FakePorts ports;
    SimAppIcons icons;
    auto resident = std::make_shared<Resident>(Platform{desktop, ports, icons});
    resident->applicationDidFinishLaunching();
    for (int i = 0; i < 40; ++i) {
        JSON message{{"cmd", "post"}, {"id", std::to_string(i % 6)}, {"title", "t"}};
        ports.callback(1, message.dump());
        desktop.advance(seconds(1));
    }
    const Rect newest = resident->cards().front()->panel->frame();
    desktop.click({newest.midX(), newest.y + newest.height / 2});
    desktop.advance(seconds(1));
    EXPECT_EQ(resident->cards().size(), 3u);
    EXPECT_TRUE(desktop.log().empty());
    EXPECT_TRUE(desktop.animations().empty());
    std::string lines = mirror.str();
    EXPECT_NE(lines.find(" timer armed 60 s\n"), std::string::npos);
    EXPECT_NE(lines.find(" panel 40 created "), std::string::npos);
    // Animations are still numbered in the mirror as they run.
    EXPECT_NE(lines.find(" animation 100 done\n"), std::string::npos);
}

TEST_F(Stack, LaunchRegistersThePortAndArmsTheIdleExit) {
    EXPECT_EQ(ports.registeredName, "pelko.code.notifier");
    EXPECT_TRUE(resident->hasPort());
    EXPECT_EQ(logSince(0), std::vector<std::string>{"timer armed 60 s"});
}

TEST(StackLaunch, SecondResidentExitsAtOnce) {
    VirtualClock clock;
    SimWindowing desktop{clock};
    FakePorts ports;
    ports.nameFree = false;
    SimAppIcons icons;
    auto resident = std::make_shared<Resident>(Platform{desktop, ports, icons});
    resident->applicationDidFinishLaunching();
    EXPECT_EQ(desktop.exitStatus(), 0);
    EXPECT_EQ(desktop.log().size(), 1u);  // the exit, no timer
    EXPECT_TRUE(desktop.panels().empty());
}

TEST_F(Stack, NewCardRisesIntoPlaceWhileFadingIn) {
    size_t mark = desktop.log().size();
    post("a");
    EXPECT_EQ(logSince(mark), (std::vector<std::string>{
                                  "panel 1 created (0, 0, 400, 80) style 128 level 25 behavior 337",
                                  "panel 1 alpha 0",
                                  "panel 1 frame (520, 789, 400, 64)",
                                  "panel 1 front",
                                  "animate 0.2 s: panel 1 frame (520, 799, 400, 64) alpha 1",
                              }));
    const CardPanelSettings& settings = panel("a").settings();
    EXPECT_FALSE(settings.canBecomeKey);
    EXPECT_FALSE(settings.canBecomeMain);
    EXPECT_TRUE(settings.floating);
    EXPECT_FALSE(settings.hidesOnDeactivate);
    EXPECT_FALSE(settings.releasedWhenClosed);
    EXPECT_EQ(card("a")->restingFrame, (Rect{cardX, firstTop - shortCard, 400, shortCard}));
    EXPECT_TRUE(panel("a").isVisible());
    EXPECT_EQ(panel("a").alpha(), 1);
}

TEST_F(Stack, FivePostsLeaveFourAndTheOldestFadesOut) {
    for (std::string id : {"a", "b", "c", "d", "e"}) post(id);
    EXPECT_EQ(ids(), (std::vector<std::string>{"e", "d", "c", "b", "a leaving"}));
    EXPECT_TRUE(logHas("animate 0.16 s: panel 1 alpha 0"));
    // Newest on top, 10 points between cards.
    double top = firstTop;
    for (std::string id : {"e", "d", "c", "b"}) {
        EXPECT_EQ(card(id)->restingFrame, (Rect{cardX, top - shortCard, 400, shortCard})) << id;
        top -= shortCard + 10;
    }
    desktop.advance(seconds(0.159));
    EXPECT_EQ(resident->cards().size(), 5u);
    desktop.advance(seconds(0.001));
    EXPECT_EQ(ids(), (std::vector<std::string>{"e", "d", "c", "b"}));
    EXPECT_TRUE(logHas("panel 1 out"));
    EXPECT_TRUE(logHas("panel 1 closed"));
    EXPECT_EQ(desktop.panels().size(), 4u);
}

TEST_F(Stack, PostingAShownIdUpdatesItAndMovesItToTheTop) {
    post("a");
    post("b");
    SimPanel* panelA = &panel("a");
    post("a", {{"title", "Updated"}, {"kind", "failed"}, {"body", "more"}});
    EXPECT_EQ(ids(), (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(&panel("a"), panelA);
    EXPECT_EQ(desktop.panels().size(), 2u);
    EXPECT_EQ(card("a")->content.title, "Updated");
    EXPECT_EQ(card("a")->view->titleLabel().text, "Updated");
    EXPECT_EQ(card("a")->view->dotColor(), colors::systemRed);
    double heightA = card("a")->view->fittingHeight();
    EXPECT_GT(heightA, shortCard);
    EXPECT_EQ(card("a")->restingFrame, (Rect{cardX, firstTop - heightA, 400, heightA}));
    EXPECT_EQ(card("b")->restingFrame.maxY(), firstTop - heightA - 10);
}

TEST_F(Stack, CardsShowTheIconsThePlatformFindsForTheirApps) {
    pelko::testing::ScopedTempDir folder;
    auto picture = (folder / "icon.png").string();
    CardContent content;
    content.id = content.title = "x";
    ASSERT_TRUE(renderCardPNG(CardView(content, icons), picture, 0.1));
    icons.add("/apps/known", picture);
    post("a", {{"app", "/apps/known"}});
    post("b", {{"app", "/apps/unknown"}});
    EXPECT_EQ(card("a")->view->icon().imagePath, picture);
    EXPECT_TRUE(card("a")->view->icon().image);
    EXPECT_TRUE(card("b")->view->icon().imagePath.empty());
    // An update looks the icon up again.
    post("a");
    EXPECT_TRUE(card("a")->view->icon().imagePath.empty());
    post("b", {{"app", "/apps/known"}});
    EXPECT_EQ(card("b")->view->icon().imagePath, picture);
}

TEST_F(Stack, PostingToALeavingIdMakesANewCard) {
    post("a");
    clear({"a"});
    post("a", {{"title", "Again"}});
    EXPECT_EQ(ids(), (std::vector<std::string>{"a", "a leaving"}));
    EXPECT_EQ(desktop.panels().size(), 2u);
    desktop.advance(seconds(0.16));
    EXPECT_EQ(ids(), std::vector<std::string>{"a"});
    EXPECT_EQ(card("a")->content.title, "Again");
    EXPECT_EQ(panel("a").number(), 2);
}

TEST_F(Stack, ClearDismissesByIdAndTheRestMoveUp) {
    post("a");
    post("b");
    post("c");
    size_t animations = desktop.animations().size();
    clear({"missing"});
    clear({});
    EXPECT_EQ(desktop.animations().size(), animations);
    EXPECT_EQ(ids(), (std::vector<std::string>{"c", "b", "a"}));

    clear({"c", "b"});
    EXPECT_EQ(ids(), (std::vector<std::string>{"c leaving", "b leaving", "a"}));
    ASSERT_EQ(desktop.animations().size(), animations + 2);
    for (size_t i = animations; i < animations + 2; ++i) {
        const SimAnimation& fade = desktop.animations()[i];
        EXPECT_EQ(fade.duration, seconds(0.16));
        ASSERT_EQ(fade.changes.size(), 1u);
        EXPECT_FALSE(fade.changes[0].frame);  // fades in place
        EXPECT_EQ(fade.changes[0].alpha, 0);
    }
    desktop.advance(seconds(0.16));
    EXPECT_EQ(ids(), std::vector<std::string>{"a"});
    EXPECT_EQ(card("a")->restingFrame.maxY(), firstTop);
    EXPECT_EQ(panel("a").frame().maxY(), firstTop);
}

TEST_F(Stack, MalformedMessagesAreIgnored) {
    post("a");
    for (const char* payload :
         {"not json", "[1,2]", R"({"cmd":5})", R"({"id":"x","title":"t"})",
          R"({"cmd":"post","title":"no id"})", R"({"cmd":"post","id":"x","title":7})",
          R"({"cmd":"frob","id":"x","title":"t"})", R"({"cmd":"clear","ids":"a"})",
          R"({"cmd":"clear","ids":["a",1]})", R"({"cmd":"clear"})"}) {
        deliver(payload);
    }
    ports.callback(1, "");  // no payload: nothing is even queued
    desktop.runPending();
    EXPECT_EQ(ids(), std::vector<std::string>{"a"});
    EXPECT_EQ(desktop.panels().size(), 1u);
    EXPECT_FALSE(desktop.exitStatus());
}

TEST_F(Stack, ClickOpensTheURLIfAnyAndDismisses) {
    post("plain");
    desktop.click(middleOf("plain"));
    EXPECT_EQ(ids(), std::vector<std::string>{"plain leaving"});
    EXPECT_TRUE(desktop.openedURLs().empty());
    desktop.advance(seconds(0.16));

    post("linked", {{"url", "https://example.com/run?id=4%20x#top"}});
    desktop.click(middleOf("linked"));
    EXPECT_EQ(desktop.openedURLs(),
              std::vector<std::string>{"https://example.com/run?id=4%20x#top"});
    EXPECT_EQ(ids(), std::vector<std::string>{"linked leaving"});
    desktop.advance(seconds(0.16));

    // A URL that cannot be parsed is not opened; the click still dismisses.
    post("broken", {{"url", "not a url"}});
    desktop.click(middleOf("broken"));
    EXPECT_EQ(desktop.openedURLs().size(), 1u);
    EXPECT_EQ(ids(), std::vector<std::string>{"broken leaving"});
}

TEST(URLs, OpenableOnlyWithSchemeAndURLCharacters) {
    EXPECT_TRUE(isOpenableURL("https://example.com/a?b=1&c=%2F#x"));
    EXPECT_TRUE(isOpenableURL("mailto:someone@example.com"));
    EXPECT_TRUE(isOpenableURL("file:///tmp/report.html"));
    EXPECT_FALSE(isOpenableURL(""));
    EXPECT_FALSE(isOpenableURL("example.com/path"));
    EXPECT_FALSE(isOpenableURL("https://exa mple.com"));
    EXPECT_FALSE(isOpenableURL("https://example.com/%zz"));
    EXPECT_FALSE(isOpenableURL("https://example.com/%2"));
    EXPECT_FALSE(isOpenableURL("1http://x"));
    EXPECT_FALSE(isOpenableURL(":nothing"));
}

TEST_F(Stack, CloseButtonDismissesInPlace) {
    post("a");
    Rect frame = panel("a").frame();
    Point closeButton{frame.x + 10, frame.maxY() - 10};
    desktop.movePointer(closeButton);
    EXPECT_FALSE(card("a")->view->closeButtonHidden());
    size_t animations = desktop.animations().size();
    desktop.click(closeButton);
    EXPECT_EQ(ids(), std::vector<std::string>{"a leaving"});
    EXPECT_EQ(desktop.animations()[animations].duration, seconds(0.16));
    EXPECT_FALSE(desktop.animations()[animations].changes[0].frame);
    EXPECT_TRUE(desktop.openedURLs().empty());
}

TEST_F(Stack, APressOnTheCloseButtonNeitherOpensNorDragsTheCard) {
    post("a", {{"url", "https://example.com"}});
    const Rect resting = card("a")->restingFrame;
    const Point closeButton{resting.x + 10, resting.maxY() - 10};
    // Dragged away from the button and released: nothing happens.
    desktop.drag(closeButton, {closeButton.x + 2, closeButton.x + 150});
    EXPECT_EQ(ids(), std::vector<std::string>{"a"});
    EXPECT_EQ(panel("a").frame(), resting);
    // Released on the button after a tremble: dismissed in place, the URL left alone.
    desktop.drag(closeButton, {closeButton.x + 2});
    EXPECT_EQ(ids(), std::vector<std::string>{"a leaving"});
    EXPECT_EQ(desktop.animations().back().duration, seconds(0.16));
    EXPECT_TRUE(desktop.openedURLs().empty());
}

TEST_F(Stack, DragPast100PointsSlidesOffAndIsRemoved) {
    post("a", {{"url", "https://example.com"}});
    Rect resting = card("a")->restingFrame;
    Point start = middleOf("a");
    desktop.drag(start, {start.x + 3, start.x + 60, start.x + 100});
    // While dragged: moved at once by the offset, dimmed by distance; on release it leaves.
    EXPECT_TRUE(logHas("panel 1 frame (580, 799, 400, 64) display"));
    EXPECT_TRUE(logHas("panel 1 alpha 0.769231"));  // 1 - 60 / 260
    EXPECT_TRUE(logHas("panel 1 frame (620, 799, 400, 64) display"));
    const SimAnimation& slide = desktop.animations().back();
    EXPECT_EQ(slide.duration, seconds(0.2));
    EXPECT_EQ(slide.changes[0].frame, resting.offsetBy(100 + 480, 0));
    EXPECT_EQ(slide.changes[0].alpha, 0);
    EXPECT_TRUE(desktop.openedURLs().empty());  // a drag is no click
    desktop.advance(seconds(0.199));
    EXPECT_EQ(resident->cards().size(), 1u);
    desktop.advance(seconds(0.001));
    EXPECT_TRUE(resident->cards().empty());
}

TEST_F(Stack, ShortDragDimsAndSnapsBack) {
    post("a");
    Point start = middleOf("a");
    desktop.drag(start, {start.x - 250});
    EXPECT_TRUE(logHas("panel 1 frame (270, 799, 400, 64) display"));
    EXPECT_TRUE(logHas("panel 1 alpha 0.25"));                // never dimmer than a quarter
    EXPECT_EQ(ids(), std::vector<std::string>{"a leaving"});  // -250 is past 90: leaves left
    EXPECT_EQ(desktop.animations().back().changes[0].frame, (Rect{270 - 480, 799, 400, 64}));

    post("b");
    start = middleOf("b");
    desktop.drag(start, {start.x - 50});
    EXPECT_TRUE(logHas("panel 2 frame (470, 799, 400, 64) display"));
    EXPECT_TRUE(logHas("panel 2 alpha 0.807692"));  // 1 - 50 / 260
    // Released short of 90 points: back into place over 0.18 s.
    const SimAnimation& snap = desktop.animations().back();
    EXPECT_EQ(snap.duration, seconds(0.18));
    EXPECT_EQ(snap.changes[0].frame, card("b")->restingFrame);
    EXPECT_EQ(snap.changes[0].alpha, 1);
    EXPECT_EQ(panel("b").frame(), card("b")->restingFrame);
    EXPECT_EQ(ids(), (std::vector<std::string>{"b", "a leaving"}));
}

TEST_F(Stack, TrackpadSwipeSlidesOff) {
    post("a");
    Point at = middleOf("a");
    ScrollEvent event;
    event.phase = ScrollEvent::began;
    desktop.scroll(at, event);
    event.phase = ScrollEvent::changed;
    event.deltaX = -80;  // fingers to the right
    desktop.scroll(at, event);
    event.phase = ScrollEvent::ended;
    event.deltaX = 0;
    desktop.scroll(at, event);
    EXPECT_EQ(ids(), std::vector<std::string>{"a leaving"});
    const SimAnimation& slide = desktop.animations().back();
    EXPECT_EQ(slide.duration, seconds(0.2));
    EXPECT_EQ(slide.changes[0].frame,
              (Rect{cardX + 80 + 480, firstTop - shortCard, 400, shortCard}));
}

TEST_F(Stack, StackGoesToThePointersScreen) {
    Screen main{{0, 0, 1440, 900}, {0, 0, 1440, 875}};
    Screen side{{1440, -100, 1920, 1080}, {1440, -100, 1920, 1050}};
    desktop.setScreens({main, side});
    desktop.movePointer({2000, 500});
    post("a");
    EXPECT_EQ(card("a")->restingFrame, (Rect{2200, 950 - 12 - shortCard, 400, shortCard}));

    // Outside every screen: the main screen.
    desktop.movePointer({-50, -50});
    post("b");
    EXPECT_EQ(card("b")->restingFrame, (Rect{cardX, firstTop - shortCard, 400, shortCard}));
    EXPECT_EQ(card("a")->restingFrame.maxY(), firstTop - shortCard - 10);

    // No screen at all: nothing moves, a new card stays unshown.
    desktop.setScreens({});
    size_t animations = desktop.animations().size();
    post("c");
    EXPECT_EQ(desktop.animations().size(), animations);
    EXPECT_FALSE(panel("c").isVisible());
    EXPECT_EQ(panel("c").alpha(), 0);
}

TEST_F(Stack, ExitsSixtySecondsAfterStartWithoutPosts) {
    desktop.advance(seconds(59.999));
    EXPECT_FALSE(desktop.exitStatus());
    desktop.advance(seconds(0.001));
    EXPECT_EQ(desktop.exitStatus(), 0);
    EXPECT_TRUE(ports.invalidated);
}

TEST_F(Stack, ExitsSixtySecondsAfterTheLastCardHasGone) {
    desktop.advance(seconds(10));
    post("a");
    desktop.advance(seconds(55));  // the launch timer would have fired at 60
    EXPECT_FALSE(desktop.exitStatus());
    clear({"a"});  // at 65; gone at 65.16
    desktop.advance(seconds(60.159));
    EXPECT_FALSE(desktop.exitStatus());
    desktop.advance(seconds(0.001));
    EXPECT_EQ(desktop.exitStatus(), 0);
    EXPECT_NEAR(inSeconds(desktop.elapsed()), 125.16, 1e-9);
}

TEST_F(Stack, ExitCountsFromTheRemovalOfTheLastLeavingCard) {
    post("a");
    post("b");
    // b fades in place (0.16 s) while a slides off (0.2 s): a is still on screen when b's
    // removal finds no active card, so the exit counts from a's removal.
    desktop.drag(middleOf("a"), {middleOf("a").x + 200});
    clear({"b"});
    desktop.advance(seconds(60.199));
    EXPECT_FALSE(desktop.exitStatus());
    desktop.advance(seconds(0.001));
    EXPECT_EQ(desktop.exitStatus(), 0);
}

TEST_F(Stack, PostBeforeTheTimerFiresCancelsTheExit) {
    post("a");
    clear({"a"});
    desktop.advance(seconds(30));
    post("b");
    desktop.advance(seconds(300));
    EXPECT_FALSE(desktop.exitStatus());
    EXPECT_EQ(ids(), std::vector<std::string>{"b"});
}

TEST_F(Stack, AMessageReceivedButNotYetHandledIsShownNotLost) {
    clock.advance(seconds(60));  // the idle timer is due, but has not run yet
    ports.callback(1, R"({"cmd":"post","id":"late","title":"Late"})");
    desktop.runPending();
    EXPECT_FALSE(desktop.exitStatus());
    EXPECT_EQ(ids(), std::vector<std::string>{"late"});
    EXPECT_FALSE(ports.invalidated);
}

}  // namespace
}  // namespace pelko::notifier

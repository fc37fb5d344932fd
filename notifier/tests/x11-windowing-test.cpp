// The resident's card stack on a real X server (scripts/desktop-session), in virtual time:
// where the card windows stand and how they are made, the frames of their animations, their
// pixels shaped and under a compositing manager, monitors and work areas, and the idle exit.
#include <gtest/gtest.h>

#include <sstream>

#include "card-pictures.h"
#include "child-process.h"
#include "fake-ports.h"
#include "linux/x11-windowing.h"
#include "resident.h"
#include "sim/sim-app-icons.h"
#include "x11-desktop.h"

// Last: Xlib's macros (None, Bool, Status) would clash with the headers above.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/Xrandr.h>
#include <X11/extensions/shape.h>

namespace pelko::notifier {
namespace {

using namespace pelko::testing;
using notifier::testing::CardComparison;
using notifier::testing::compareCard;
using notifier::testing::drawCard;
using notifier::testing::FakePorts;
using notifier::testing::titleOnly;

/// The session's screen is 1920 × 1200 pixels: cards are centred at x 960 and the first one's
/// top is 12 pixels below the top edge.
constexpr int cardLeft = 760;
constexpr int firstTop = 12;

class X11Stack : public ::testing::Test {
  protected:
    void SetUp() override {
        if (std::string reason = desktopUnavailableReason(); !reason.empty())
            GTEST_SKIP() << reason;
        ASSERT_TRUE(display.get());
    }

    void start(X11Options options = {}) {
        options.log = &log;
        windowing = X11Windowing::connect(clock, nullptr, options);
        ASSERT_TRUE(windowing);
        resident = std::make_shared<Resident>(Platform{*windowing, ports, icons});
        resident->applicationDidFinishLaunching();
    }
    void deliver(const JSON& message) {
        ports.callback(1, message.dump());
        windowing->runPending();
    }
    void post(const std::string& id, JSON extra = JSON::object()) {
        JSON message{{"cmd", "post"}, {"id", id}, {"title", "Card " + id}};
        message.update(extra);
        deliver(message);
    }
    Window window(const std::string& id) const {
        for (const auto& card : resident->cards())
            if (card->content.id == id && !card->leaving) return windowing->windowOf(*card->panel);
        return 0;
    }
    /// The window's rectangle on the screen and whether it is viewable, as the X server has it.
    std::optional<std::pair<PixelRect, bool>> onServer(Window w) {
        windowing->sync();
        Window root, parent, *children = nullptr;
        unsigned count = 0;
        XQueryTree(display.get(), DefaultRootWindow(display.get()), &root, &parent, &children,
                   &count);
        bool exists = std::find(children, children + count, w) != children + count;
        if (children) XFree(children);
        if (!exists) return std::nullopt;
        XWindowAttributes attributes{};
        XGetWindowAttributes(display.get(), w, &attributes);
        return std::pair{PixelRect{attributes.x, attributes.y, attributes.width, attributes.height},
                         attributes.map_state == IsViewable};
    }
    PixelRect rectOf(const std::string& id) { return onServer(window(id)).value().first; }

    DisplayConnection display;  // the test's own view of the server
    VirtualClock clock;
    FakePorts ports;
    SimAppIcons icons;
    std::ostringstream log;
    std::unique_ptr<X11Windowing> windowing;
    std::shared_ptr<Resident> resident;  // declared last: it goes before the windowing
};

TEST_F(X11Stack, CardWindowsStandAtTheTopCentreAndNeverTakeTheFocus) {
    start();
    post("a");
    windowing->advance(seconds(0.2));
    const Window a = window("a");
    ASSERT_NE(a, 0u);
    auto shown = onServer(a);
    ASSERT_TRUE(shown);
    EXPECT_EQ(shown->first, (PixelRect{cardLeft, firstTop, 400, 64}));
    EXPECT_TRUE(shown->second);

    // Not managed by any window manager, refusing the keyboard, typed as a notification.
    XWindowAttributes attributes{};
    XGetWindowAttributes(display.get(), a, &attributes);
    EXPECT_TRUE(attributes.override_redirect);
    XWMHints* hints = XGetWMHints(display.get(), a);
    ASSERT_TRUE(hints);
    EXPECT_TRUE(hints->flags & InputHint);
    EXPECT_FALSE(hints->input);
    XFree(hints);
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    XGetWindowProperty(display.get(), a, XInternAtom(display.get(), "_NET_WM_WINDOW_TYPE", False),
                       0, 1, False, XA_ATOM, &type, &format, &count, &after, &data);
    ASSERT_TRUE(data);
    EXPECT_EQ(*reinterpret_cast<Atom*>(data),
              XInternAtom(display.get(), "_NET_WM_WINDOW_TYPE_NOTIFICATION", False));
    XFree(data);
}

TEST_F(X11Stack, NewCardsRiseFrameByFrameAndPushTheOthersDown) {
    start();
    post("a");
    windowing->advance(seconds(0.2));
    post("b", {{"body", "A second line of text"}});
    const double bHeight = resident->cards().front()->view->fittingHeight();
    // Halfway through its rise, b is between 10 pixels low and its place, and a on its way down.
    windowing->advance(seconds(0.1));
    PixelRect b = rectOf("b");
    EXPECT_GT(b.y, firstTop);
    EXPECT_LT(b.y, firstTop + 10);
    PixelRect a = rectOf("a");
    EXPECT_GT(a.y, firstTop);
    EXPECT_LT(a.y, firstTop + static_cast<int>(bHeight) + 10);
    windowing->advance(seconds(0.1));
    EXPECT_EQ(rectOf("b"), (PixelRect{cardLeft, firstTop, 400, static_cast<int>(bHeight)}));
    EXPECT_EQ(rectOf("a"),
              (PixelRect{cardLeft, firstTop + static_cast<int>(bHeight) + 10, 400, 64}));
}

TEST_F(X11Stack, ClearedCardsCloseAndTheResidentExitsAMinuteLater) {
    start();
    post("a");
    windowing->advance(seconds(0.2));
    const Window a = window("a");
    deliver({{"cmd", "clear"}, {"ids", {"a"}}});
    windowing->advance(seconds(0.159));
    EXPECT_TRUE(onServer(a));  // still fading out in place
    windowing->advance(seconds(0.001));
    EXPECT_FALSE(onServer(a));  // its window is gone
    EXPECT_TRUE(resident->cards().empty());

    windowing->advance(seconds(59.9));
    EXPECT_FALSE(windowing->exitStatus());
    windowing->advance(seconds(0.1));
    EXPECT_EQ(windowing->exitStatus(), 0);
    EXPECT_TRUE(ports.invalidated);
    EXPECT_NE(log.str().find("60.360 exit 0\n"), std::string::npos) << log.str();
}

TEST_F(X11Stack, EventsThatArriveTogetherKeepTheirOrder) {
    X11Options options;
    options.opener = "true";
    start(options);
    post("a", {{"url", "https://example.com"}});
    windowing->advance(seconds(0.2));
    // A whole swipe to the right reaches the X server before the resident reads any of it: the
    // motions after the press are drags, not moves before it, so the card leaves unopened.
    ASSERT_TRUE(xdotool({"mousemove", "960", "44", "mousedown", "1", "mousemove", "1000", "44",
                         "mousemove", "1100", "44", "mouseup", "1"}));
    XSync(display.get(), False);
    windowing->sync();
    windowing->advance(seconds(0.2));
    EXPECT_TRUE(resident->cards().empty());
    EXPECT_EQ(log.str().find(" open "), std::string::npos) << log.str();
    EXPECT_NE(log.str().find("panel 1 closed"), std::string::npos) << log.str();
}

TEST_F(X11Stack, ShapedCardsShowTheCardViewsPixels) {
    X11Options options;
    options.allowTransparency = false;
    start(options);
    const JSON extra{{"subtitle", "Deploy to staging"},
                     {"body", "Approve the database migration before the agent continues."},
                     {"kind", "input"}};
    JSON message{{"id", "a"}, {"title", "Pelko needs your input"}};
    message.update(extra);
    SurfacePtr card = drawCard(*CardContent::fromMessage(message));
    const int height = cairo_image_surface_get_height(card.get());
    SurfacePtr before = grabScreen(display.get(), cardLeft, firstTop, 400, height);

    post("a", message);
    windowing->advance(seconds(0.2));
    windowing->sync();
    EXPECT_NE(log.str().find("panel 1 created (0, 0, 400, 80) shaped"), std::string::npos);
    SurfacePtr after = grabScreen(display.get(), cardLeft, firstTop, 400, height);
    CardComparison comparison = compareCard(after.get(), card.get(), before.get());
    EXPECT_EQ(comparison.pixels, 400 * height);
    EXPECT_EQ(comparison.differentInside, 0);
    EXPECT_EQ(comparison.differentAtEdges, 0);
    EXPECT_GT(comparison.different, 0);  // the faint outer pixels of the round corners

    // The window's own shape leaves the round corners out.
    int count = 0, ordering = 0;
    XRectangle* shape =
        XShapeGetRectangles(display.get(), window("a"), ShapeBounding, &count, &ordering);
    ASSERT_GT(count, 1);
    EXPECT_GT(shape[0].x, 0);  // the top row starts right of the corner
    XFree(shape);
}

TEST_F(X11Stack, UnderACompositorCardsBlendWithTheWindowsBelow) {
    // A compositing manager of this session alone, and a blue window where the card will be.
    ChildProcess compositor({"/usr/bin/xcompmgr", "-n"});
    Atom selection = XInternAtom(display.get(), "_NET_WM_CM_S0", False);
    ASSERT_TRUE(waitUntil([&] { return XGetSelectionOwner(display.get(), selection) != None; }));
    Window root = DefaultRootWindow(display.get());
    Window below =
        XCreateSimpleWindow(display.get(), root, cardLeft - 20, 0, 440, 120, 0, 0, 0x2060c0);
    XSetWindowAttributes attributes{};
    attributes.override_redirect = True;
    XChangeWindowAttributes(display.get(), below, CWOverrideRedirect, &attributes);
    XMapWindow(display.get(), below);
    XSync(display.get(), False);
    SurfacePtr before;
    ASSERT_TRUE(waitUntil([&] {
        before = grabScreen(display.get(), cardLeft, firstTop, 400, 64);
        return pixelAt(before.get(), 0, 0) == 0xFF2060C0u;
    }));

    start();
    post("a", {{"title", "Build finished"}});
    windowing->advance(seconds(0.2));
    EXPECT_NE(log.str().find("panel 1 created (0, 0, 400, 80) transparent"), std::string::npos);
    SurfacePtr card = drawCard(titleOnly("a", "Build finished"));
    // The compositor paints on its own time: wait until the card is there.
    CardComparison comparison;
    waitUntil([&] {
        windowing->sync();
        SurfacePtr after = grabScreen(display.get(), cardLeft, firstTop, 400, 64);
        comparison = compareCard(after.get(), card.get(), before.get());
        return comparison.different == 0;
    });
    // Every pixel, the translucent corners included, is the card blended over the blue.
    EXPECT_EQ(comparison.different, 0);
}

TEST_F(X11Stack, LargePixelsShowTheReferenceRendering) {
    // Two pixels a point: the card's window holds exactly the reference picture of this post.
    X11Options options;
    options.allowTransparency = false;
    options.scale = 2;
    start(options);
    SurfacePtr reference(cairo_image_surface_create_from_png(REFERENCE_CARDS "/title-only.png"));
    ASSERT_EQ(cairo_surface_status(reference.get()), CAIRO_STATUS_SUCCESS);
    ASSERT_EQ(cairo_image_surface_get_width(reference.get()), 800);
    const int height = cairo_image_surface_get_height(reference.get());
    // The screen is 960 × 600 points: the card's left edge is at 280 points, its top 12 points
    // down.
    SurfacePtr before = grabScreen(display.get(), 560, 24, 800, height);
    post("a", {{"title", "Build finished"}});
    windowing->advance(seconds(0.2));
    EXPECT_EQ(rectOf("a"), (PixelRect{560, 24, 800, height}));
    SurfacePtr after = grabScreen(display.get(), 560, 24, 800, height);
    CardComparison comparison = compareCard(after.get(), reference.get(), before.get());
    EXPECT_EQ(comparison.differentInside, 0);
    EXPECT_EQ(comparison.differentAtEdges, 0);
}

TEST_F(X11Stack, CardsGoToTheMonitorUnderThePointerBelowThePanels) {
    // Two monitors side by side, the primary on the left; a 40-pixel panel along the top.
    Display* d = display.get();
    Window root = DefaultRootWindow(d);
    XRRScreenResources* resources = XRRGetScreenResources(d, root);
    ASSERT_TRUE(resources && resources->noutput > 0);
    RROutput output = resources->outputs[0];
    auto addMonitor = [&](const char* name, int x, bool primary, RROutput* outputs, int count) {
        XRRMonitorInfo* monitor = XRRAllocateMonitor(d, count);
        monitor->name = XInternAtom(d, name, False);
        monitor->primary = primary;
        monitor->x = x;
        monitor->y = 0;
        monitor->width = 960;
        monitor->height = 1200;
        monitor->mwidth = 250;
        monitor->mheight = 310;
        for (int i = 0; i < count; ++i) monitor->outputs[i] = outputs[i];
        XRRSetMonitor(d, root, monitor);
        XRRFreeMonitors(monitor);
    };
    addMonitor("LEFT", 0, true, &output, 1);  // takes the place of the output's own monitor
    addMonitor("RIGHT", 960, false, nullptr, 0);
    XRRFreeScreenResources(resources);
    long area[4] = {0, 40, 1920, 1160};
    XChangeProperty(d, root, XInternAtom(d, "_NET_WORKAREA", False), XA_CARDINAL, 32,
                    PropModeReplace, reinterpret_cast<unsigned char*>(area), 4);
    XWarpPointer(d, None, root, 0, 0, 0, 0, 1500, 600);
    XSync(d, False);

    start();
    std::vector<Screen> screens = windowing->screens();
    ASSERT_EQ(screens.size(), 2u);
    EXPECT_EQ(screens[0].frame, (Rect{0, 0, 960, 1200}));
    EXPECT_EQ(screens[1].visibleFrame, (Rect{960, 0, 960, 1160}));
    post("a");
    windowing->advance(seconds(0.2));
    EXPECT_EQ(rectOf("a"), (PixelRect{960 + 480 - 200, 40 + 12, 400, 64}));

    // Back on the primary monitor, the next layout moves the stack there.
    XWarpPointer(d, None, root, 0, 0, 0, 0, 100, 600);
    XSync(d, False);
    post("b");
    windowing->advance(seconds(0.2));
    EXPECT_EQ(rectOf("b"), (PixelRect{480 - 200, 52, 400, 64}));
    EXPECT_EQ(rectOf("a"), (PixelRect{480 - 200, 52 + 64 + 10, 400, 64}));
}

}  // namespace
}  // namespace pelko::notifier

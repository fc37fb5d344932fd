// The card's content, texts, measured heights and gestures.
#include <cairo.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <tuple>

#include "card-view.h"
#include "child-process.h"
#include "pango-cairo.h"
#include "sim/sim-app-icons.h"

namespace pelko::notifier {
namespace {

/// Finds no icon for any app: cards show the program's own.
const SimAppIcons noAppIcons;

CardContent content(std::string id, std::string title) {
    return *CardContent::fromMessage(JSON{{"id", id}, {"title", title}});
}

CardContent withBody(std::string body) {
    CardContent c = content("b", "Title");
    c.body = std::move(body);
    return c;
}

TEST(CardContent, DefaultsAndRequiredKeys) {
    auto full = CardContent::fromMessage(JSON{{"cmd", "post"},
                                              {"id", "a"},
                                              {"title", "T"},
                                              {"subtitle", "S"},
                                              {"body", "B"},
                                              {"url", "https://x"},
                                              {"kind", "input"},
                                              {"app", "/a.png"},
                                              {"extra", 1}});
    ASSERT_TRUE(full);
    EXPECT_EQ(*full, (CardContent{"a", "T", "S", "B", "https://x", "input", "/a.png"}));

    auto minimal = CardContent::fromMessage(JSON{{"id", "a"}, {"title", "T"}});
    ASSERT_TRUE(minimal);
    EXPECT_EQ(*minimal, (CardContent{"a", "T", "", "", "", "done", ""}));

    // Optional keys of another type take their defaults.
    auto odd = CardContent::fromMessage(
        JSON{{"id", "a"}, {"title", "T"}, {"kind", 3}, {"body", nullptr}, {"url", {"x"}}});
    ASSERT_TRUE(odd);
    EXPECT_EQ(odd->kind, "done");
    EXPECT_EQ(odd->body, "");
    EXPECT_EQ(odd->url, "");

    EXPECT_FALSE(CardContent::fromMessage(JSON{{"title", "T"}}));
    EXPECT_FALSE(CardContent::fromMessage(JSON{{"id", "a"}}));
    EXPECT_FALSE(CardContent::fromMessage(JSON{{"id", 1}, {"title", "T"}}));
    EXPECT_FALSE(CardContent::fromMessage(JSON{{"id", "a"}, {"title", false}}));
    EXPECT_FALSE(CardContent::fromMessage(JSON::array({"a", "T"})));
}

TEST(CardView, DotColourFollowsKindAndEmptyLabelsHide) {
    CardView view(content("a", "Only a title"), noAppIcons);
    EXPECT_EQ(view.dotColor(), colors::systemGreen);
    EXPECT_FALSE(view.titleLabel().hidden);
    EXPECT_TRUE(view.subtitleLabel().hidden);
    EXPECT_TRUE(view.bodyLabel().hidden);
    EXPECT_TRUE(view.icon().imagePath.empty());

    CardContent c = content("a", "t");
    for (auto [kind, colour] : {std::pair{"input", colors::systemOrange},
                                {"failed", colors::systemRed},
                                {"done", colors::systemGreen},
                                {"Failed", colors::systemGreen},
                                {"", colors::systemGreen}}) {
        c.kind = kind;
        view.update(c);
        EXPECT_EQ(view.dotColor(), colour) << kind;
    }
    c.subtitle = "sub";
    view.update(c);
    EXPECT_FALSE(view.subtitleLabel().hidden);
    EXPECT_EQ(view.subtitleLabel().text, "sub");
}

TEST(RightToLeft, DetectsTheThreeRanges) {
    auto scalar = [](char32_t c) {
        std::string s;
        if (c < 0x800) {
            s += static_cast<char>(0xC0 | (c >> 6));
        } else {
            s += static_cast<char>(0xE0 | (c >> 12));
            s += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        }
        s += static_cast<char>(0x80 | (c & 0x3F));
        return "Latin " + s + " text";
    };
    for (char32_t inside : {0x0590, 0x05D0, 0x0627, 0x08FF, 0xFB1D, 0xFDFF, 0xFE70, 0xFEFF})
        EXPECT_TRUE(containsRTLLetter(scalar(inside))) << std::hex << static_cast<uint32_t>(inside);
    for (char32_t outside : {0x058F, 0x0900, 0xFB1C, 0xFE00, 0xFE6F, 0xFF00, 0x00E9})
        EXPECT_FALSE(containsRTLLetter(scalar(outside)))
            << std::hex << static_cast<uint32_t>(outside);
    EXPECT_FALSE(containsRTLLetter(""));
    EXPECT_FALSE(containsRTLLetter("plain ASCII"));
    EXPECT_FALSE(containsRTLLetter("\xD7"));          // a cut-off letter is no letter
    EXPECT_FALSE(containsRTLLetter("\xD7\x41"));      // a lead byte before plain text
    EXPECT_FALSE(containsRTLLetter("\xE0\x96\x90"));  // U+0590 spelt with three bytes
    EXPECT_TRUE(containsRTLLetter("\xD7 \xD7\x90"));  // a stray byte, then a real alef
}

TEST(RightToLeft, OneLetterMakesTheWholeLabelRightToLeft) {
    Label title = makeLabel({13.5, true}, colors::label, 1);
    setDirectionalText(title, "Build \xD7\x90 finished");  // one Hebrew alef among Latin
    EXPECT_EQ(title.alignment, TextAlignment::right);
    EXPECT_EQ(title.baseDirection, WritingDirection::rightToLeft);
    EXPECT_EQ(title.lineBreak, LineBreak::truncatingTail);
    EXPECT_EQ(title.lineSpacing, 0);
    LabelLayout laidOut = layoutLabel(title, 306);
    EXPECT_GT(laidOut.inkRight, 300);  // the text hugs the right edge
    EXPECT_GT(laidOut.inkLeft, 150);

    setDirectionalText(title, "Build finished");
    EXPECT_EQ(title.alignment, TextAlignment::left);
    EXPECT_EQ(title.baseDirection, WritingDirection::leftToRight);
    laidOut = layoutLabel(title, 306);
    EXPECT_LT(laidOut.inkLeft, 3);
    EXPECT_LT(laidOut.inkRight, 150);

    Label body = makeLabel({13.5, false}, colors::label, 3);
    setDirectionalText(body, "مرحبا");
    EXPECT_EQ(body.alignment, TextAlignment::right);
    EXPECT_EQ(body.lineBreak, LineBreak::wordWrapping);
    EXPECT_EQ(body.lineSpacing, 4);
    setDirectionalText(body, "");
    EXPECT_TRUE(body.hidden);
}

TEST(CardText, EveryScriptAndEmojiHaveGlyphs) {
    // Agents post in every language and put emoji in titles: each label lays its text out with
    // a glyph for every character (none drawn as a box), whatever script it is in.
    const std::pair<Font, std::string> texts[] = {
        {{13.5, true}, "Weekly report ready 📊"},
        {{14.5, true}, "数据 · データ · 데이터"},
        {{13.5, false}, "… Überprüfung nötig: 数据 📊 ✅"},
        {{13.5, false}, "التقرير الأسبوعي جاهز"},
        {{13.5, false}, "הדוח מוכן · Отчёт готов · रिपोर्ट तैयार"},
    };
    for (const auto& [font, text] : texts) {
        Label label = makeLabel(font, colors::label, 3);
        setDirectionalText(label, text);
        EXPECT_EQ(layoutLabel(label, 306).unknownGlyphs, 0) << text;
    }
    Label missing = makeLabel({13.5, false}, colors::label, 1);
    setDirectionalText(missing, "\xF3\xB0\x80\x80");  // U+F0000, private use: no font has it
    EXPECT_EQ(layoutLabel(missing, 306).unknownGlyphs, 1) << "a box is counted";

    // Emoji are drawn in their own colours, not in the label's: a black label on white shows
    // coloured pixels where the chart stands.
    Label emoji = makeLabel({13.5, false}, {0, 0, 0, 1}, 1);
    setDirectionalText(emoji, "📊");
    SurfacePtr surface(cairo_image_surface_create(CAIRO_FORMAT_RGB24, 40, 24));
    CairoPtr cairo(cairo_create(surface.get()));
    cairo_set_source_rgb(cairo.get(), 1, 1, 1);
    cairo_paint(cairo.get());
    drawLabel(cairo.get(), emoji, 2, 2, 36, 20);
    cairo_surface_flush(surface.get());
    int coloured = 0;
    const auto* data = cairo_image_surface_get_data(surface.get());
    const int stride = cairo_image_surface_get_stride(surface.get());
    for (int y = 0; y < 24; ++y) {
        for (int x = 0; x < 40; ++x) {
            const uint32_t pixel = *reinterpret_cast<const uint32_t*>(data + y * stride + 4 * x);
            const int channels[] = {int(pixel >> 16 & 0xFF), int(pixel >> 8 & 0xFF),
                                    int(pixel & 0xFF)};
            const auto [low, high] = std::minmax({channels[0], channels[1], channels[2]});
            if (high - low > 80) ++coloured;
        }
    }
    EXPECT_GT(coloured, 20) << "the emoji is drawn in colour";
}

TEST(CardView, HeightsFollowTheBodyUpToThreeLines) {
    const double bodyLine = defaultLineHeight({13.5, false});
    ASSERT_GT(bodyLine, 10);

    // A title alone is as tall as the icon and its margins.
    EXPECT_EQ(CardView(content("a", "Title"), noAppIcons).fittingHeight(), 64);

    double one = CardView(withBody("one"), noAppIcons).fittingHeight();
    double two = CardView(withBody("one\ntwo"), noAppIcons).fittingHeight();
    double three = CardView(withBody("one\ntwo\nthree"), noAppIcons).fittingHeight();
    double ten = CardView(withBody("1\n2\n3\n4\n5\n6\n7\n8\n9\n10"), noAppIcons).fittingHeight();
    std::string longText;
    for (int i = 0; i < 100; ++i) longText += "word ";
    double wrapped = CardView(withBody(longText), noAppIcons).fittingHeight();

    // Each further line adds a line and the 4 points between lines.
    EXPECT_GT(one, 64);
    EXPECT_NEAR(two - one, bodyLine + 4, 1);
    EXPECT_NEAR(three - two, bodyLine + 4, 1);
    EXPECT_EQ(ten, three);
    EXPECT_EQ(wrapped, three);
    EXPECT_EQ(one, std::ceil(one));

    CardView capped(withBody("1\n2\n3\n4\n5\n6\n7\n8\n9\n10"), noAppIcons);
    LabelLayout body = layoutLabel(capped.bodyLabel(), 320);
    EXPECT_EQ(body.lineCount, 3);
    EXPECT_TRUE(body.truncated);
    EXPECT_LE(capped.layout().body.height, std::ceil(3 * bodyLine + 8) + 1);
    EXPECT_FALSE(layoutLabel(CardView(withBody("1\n2\n3"), noAppIcons).bodyLabel(), 320).truncated);

    // Title and subtitle keep to one line, however long.
    CardContent longTitles = content("a", longText);
    longTitles.subtitle = longText;
    CardView oneLiners(longTitles, noAppIcons);
    EXPECT_EQ(layoutLabel(oneLiners.titleLabel(), 306).lineCount, 1);
    EXPECT_TRUE(layoutLabel(oneLiners.titleLabel(), 306).truncated);
    EXPECT_EQ(layoutLabel(oneLiners.subtitleLabel(), 320).lineCount, 1);
}

/// The pixels `label` draws `width` points wide on a white ground of four lines' height.
std::string labelPixels(const Label& label, double width, TextBound bound = TextBound::shownLines) {
    const int w = static_cast<int>(std::ceil(width));
    const int h = static_cast<int>(4 * defaultLineHeight(label.font) + 16);
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h);
    cairo_t* cairo = cairo_create(surface);
    cairo_set_source_rgb(cairo, 1, 1, 1);
    cairo_paint(cairo);
    drawLabel(cairo, label, 0, 0, width, h, bound);
    cairo_destroy(cairo);
    cairo_surface_flush(surface);
    std::string pixels(reinterpret_cast<const char*>(cairo_image_surface_get_data(surface)),
                       static_cast<size_t>(cairo_image_surface_get_stride(surface)) * h);
    cairo_surface_destroy(surface);
    return pixels;
}

TEST(CardText, TheCutKeepsBlankLinesItShows) {
    // The third line is blank: it stays, and the ellipsis stands on it.
    Label body = makeLabel({13.5, false}, colors::label, 3);
    setDirectionalText(body, "a\n\n\nb");
    LabelLayout laidOut = layoutLabel(body, 320);
    EXPECT_EQ(laidOut.lineCount, 3);
    EXPECT_TRUE(laidOut.truncated);
    Label twoBlank = body;
    setDirectionalText(twoBlank, "a\n\n\n\n\nb");
    EXPECT_EQ(labelPixels(twoBlank, 320), labelPixels(body, 320));

    // Blanks at the end of the last shown line go before the ellipsis.
    Label spaced = body;
    setDirectionalText(spaced, "one\ntwo\nthree \t \nfour");
    Label tight = body;
    setDirectionalText(tight, "one\ntwo\nthree\nfour");
    EXPECT_EQ(layoutLabel(spaced, 320).lineCount, 3);
    EXPECT_EQ(labelPixels(spaced, 320), labelPixels(tight, 320));
}

TEST(CardText, OneMegabyteWordShowsWhatItsStartShows) {
    // A megabyte of one unbroken word in title and body: the card shows the lines and the
    // ellipsis that the text's first two thousand characters show when laid out whole.
    const std::string word(1 << 20, 'x');
    const std::string start = word.substr(0, 2000);
    CardContent huge = content("a", word);
    huge.body = word;
    CardContent reference = content("a", start);
    reference.body = start;
    CardView hugeView(huge, noAppIcons);
    CardView referenceView(reference, noAppIcons);
    EXPECT_EQ(hugeView.fittingHeight(), referenceView.fittingHeight());
    EXPECT_EQ(layoutLabel(hugeView.bodyLabel(), 320).lineCount, 3);
    EXPECT_TRUE(layoutLabel(hugeView.bodyLabel(), 320).truncated);
    EXPECT_TRUE(layoutLabel(hugeView.titleLabel(), 306).truncated);
    EXPECT_EQ(labelPixels(hugeView.titleLabel(), 306),
              labelPixels(referenceView.titleLabel(), 306, TextBound::wholeText));
    EXPECT_EQ(labelPixels(hugeView.bodyLabel(), 320),
              labelPixels(referenceView.bodyLabel(), 320, TextBound::wholeText));
}

TEST(CardText, LayingOutAStartShowsWhatTheWholeTextShows) {
    auto repeat = [](std::string_view piece, size_t times) {
        std::string text;
        for (size_t i = 0; i < times; ++i) text += piece;
        return text;
    };
    const std::vector<std::string> texts = {
        repeat("i", 1500),                               // the narrowest letters
        repeat("W", 1500),                               // wide ones
        repeat("word ", 400),                            // breaks between words
        repeat("\xD7\x90", 1200),                        // one unbroken Hebrew word
        repeat("e\xCC\x81\xCC\xA3", 800),                // letters with two combining marks
        repeat("\xE2\x81\xA0", 3000) + "after joiners",  // zero-width word joiners, then text
        repeat("x\xE2\x80\x8B", 1500),                   // zero-width spaces: breaks, no width
        repeat("line\n", 300),                           // many short lines
        repeat("\xE6\xBC\xA2", 1000),                    // CJK, a break after each
        std::string("short"),
    };
    for (const std::string& text : texts) {
        for (auto [font, lines, width] :
             {std::tuple{Font{13.5, true}, 1, 306.0}, std::tuple{Font{13.5, false}, 3, 320.0}}) {
            Label label = makeLabel(font, colors::label, lines);
            setDirectionalText(label, text);
            LabelLayout bounded = layoutLabel(label, width);
            LabelLayout whole = layoutLabel(label, width, TextBound::wholeText);
            EXPECT_EQ(bounded.lineCount, whole.lineCount) << text.substr(0, 12) << " " << lines;
            EXPECT_EQ(bounded.truncated, whole.truncated) << text.substr(0, 12) << " " << lines;
            EXPECT_EQ(bounded.height, whole.height) << text.substr(0, 12) << " " << lines;
            EXPECT_TRUE(labelPixels(label, width) ==
                        labelPixels(label, width, TextBound::wholeText))
                << text.substr(0, 12) << " " << lines;
        }
    }
}

TEST(CardView, PartsSitWhereTheConstraintsPutThem) {
    CardContent c = content("a", "Title");
    c.subtitle = "Subtitle";
    c.body = "Body";
    CardView view(c, noAppIcons);
    CardLayout parts = view.layout();
    EXPECT_EQ(parts.icon, (Rect{16, 14, 36, 36}));
    EXPECT_EQ(parts.dot.x, 64);
    EXPECT_EQ(parts.dot.width, 8);
    EXPECT_DOUBLE_EQ(parts.dot.y + 4, parts.title.y + parts.title.height / 2);
    EXPECT_EQ(parts.title.x, 78);
    EXPECT_EQ(parts.title.maxX(), 384);
    EXPECT_EQ(parts.title.y, 13);
    EXPECT_EQ(parts.subtitle.x, 64);
    EXPECT_EQ(parts.subtitle.width, 320);
    EXPECT_DOUBLE_EQ(parts.subtitle.y, parts.title.maxY() + 2);
    EXPECT_DOUBLE_EQ(parts.body.y, parts.subtitle.maxY() + 5);
    EXPECT_DOUBLE_EQ(parts.height, parts.body.maxY() + 14);
    EXPECT_EQ(parts.closeButton, (Rect{1, 1, 18, 18}));
}

struct GestureLog {
    int clicks = 0;
    std::vector<double> swipes;
    std::vector<double> offsets;
    void attach(CardView& view) {
        view.onClick = [this] { ++clicks; };
        view.onSwipe = [this](double d) { swipes.push_back(d); };
        view.onDragOffset = [this](double dx) { offsets.push_back(dx); };
    }
};

TEST(CardGestures, MouseClickDragAndThresholds) {
    CardView view(content("a", "t"), noAppIcons);
    GestureLog log;
    log.attach(view);

    // Moving 3 points, or exactly 4, is still a click.
    view.mouseDown(500);
    view.mouseDragged(503);
    view.mouseDragged(504);
    view.mouseUp();
    EXPECT_EQ(log.clicks, 1);
    EXPECT_TRUE(log.offsets.empty());

    // 50 points: live offsets once past 4 points, then a snap back.
    view.mouseDown(500);
    view.mouseDragged(504);
    view.mouseDragged(505);
    view.mouseDragged(550);
    view.mouseUp();
    EXPECT_EQ(log.offsets, (std::vector<double>{5, 50, 0}));
    EXPECT_EQ(log.clicks, 1);

    // Once a drag, always a drag: coming back near the start is no click.
    log.offsets.clear();
    view.mouseDown(500);
    view.mouseDragged(520);
    view.mouseDragged(501);
    view.mouseUp();
    EXPECT_EQ(log.offsets, (std::vector<double>{20, 1, 0}));
    EXPECT_EQ(log.clicks, 1);

    // -120 leaves to the left, +91 to the right, exactly 90 snaps back.
    view.mouseDown(500);
    view.mouseDragged(380);
    view.mouseUp();
    view.mouseDown(500);
    view.mouseDragged(591);
    view.mouseUp();
    log.offsets.clear();
    view.mouseDown(500);
    view.mouseDragged(590);
    view.mouseUp();
    EXPECT_EQ(log.swipes, (std::vector<double>{-1, 1}));
    EXPECT_EQ(log.offsets, (std::vector<double>{90, 0}));
}

ScrollEvent scroll(int phase, double dx, double dy = 0) {
    ScrollEvent event;
    event.phase = phase;
    event.deltaX = dx;
    event.deltaY = dy;
    return event;
}

TEST(CardGestures, TrackpadSwipePhases) {
    CardView view(content("a", "t"), noAppIcons);
    GestureLog log;
    log.attach(view);

    // Fingers moving right report negative deltas unless the device direction is inverted;
    // 75 points to the right leave to the right at the end.
    view.scrollWheel(scroll(ScrollEvent::began, 0));
    view.scrollWheel(scroll(ScrollEvent::changed, -40, 5));
    view.scrollWheel(scroll(ScrollEvent::changed, -35));
    view.scrollWheel(scroll(ScrollEvent::ended, 0));
    EXPECT_EQ(log.offsets, (std::vector<double>{40, 75}));
    EXPECT_EQ(log.swipes, std::vector<double>{1});

    // Natural scrolling: the delta counts as it comes; exactly 70 snaps back.
    log.offsets.clear();
    ScrollEvent inverted = scroll(ScrollEvent::changed, -70);
    inverted.directionInvertedFromDevice = true;
    view.scrollWheel(scroll(ScrollEvent::began, 0));
    view.scrollWheel(inverted);
    view.scrollWheel(scroll(ScrollEvent::cancelled, 0));
    EXPECT_EQ(log.offsets, (std::vector<double>{-70, 0}));
    EXPECT_EQ(log.swipes, std::vector<double>{1});

    // Mostly vertical from the start: ignored, also at its end. Once horizontal, vertical
    // movement no longer stops it.
    log.offsets.clear();
    view.scrollWheel(scroll(ScrollEvent::began, 0));
    view.scrollWheel(scroll(ScrollEvent::changed, -3, 20));
    view.scrollWheel(scroll(ScrollEvent::ended, 0));
    EXPECT_TRUE(log.offsets.empty());
    view.scrollWheel(scroll(ScrollEvent::began | ScrollEvent::changed, 30));
    view.scrollWheel(scroll(ScrollEvent::changed, 1, 25));
    EXPECT_EQ(log.offsets, (std::vector<double>{-30, -31}));

    // Momentum after the fingers lift and classic wheels never move the card.
    ScrollEvent momentum = scroll(ScrollEvent::changed, -200);
    momentum.momentumPhase = 4;
    view.scrollWheel(momentum);
    ScrollEvent wheel = scroll(ScrollEvent::changed, -200);
    wheel.hasPreciseScrollingDeltas = false;
    view.scrollWheel(wheel);
    EXPECT_EQ(log.offsets.size(), 2u);
    view.scrollWheel(scroll(ScrollEvent::ended, 0));
    EXPECT_EQ(log.offsets.back(), 0);
    EXPECT_EQ(log.swipes, std::vector<double>{1});
    EXPECT_EQ(log.clicks, 0);
}

TEST(CardGestures, CloseButtonShowsOnHoverAndDismissesInPlace) {
    CardView view(content("a", "t"), noAppIcons);
    GestureLog log;
    log.attach(view);
    EXPECT_TRUE(view.acceptsFirstMouse());
    EXPECT_TRUE(view.closeButtonHidden());
    view.pointerEntered();
    EXPECT_FALSE(view.closeButtonHidden());
    view.closeTapped();
    EXPECT_EQ(log.swipes, std::vector<double>{0});
    view.pointerExited();
    EXPECT_TRUE(view.closeButtonHidden());
}

TEST(CardAsPanelContent, HitTestFindsTheCloseButtonOnlyWhileItShows) {
    CardView view(content("a", "t"), noAppIcons);  // 400 × 64
    EXPECT_EQ(view.hitTest({200, 30}), PanelHit::surface);
    EXPECT_EQ(view.hitTest({10, 10}), PanelHit::surface);  // the hidden button is no button
    view.pointerEntered();
    EXPECT_EQ(view.hitTest({10, 10}), PanelHit::button);
    EXPECT_EQ(view.hitTest({1, 1}), PanelHit::button);
    EXPECT_EQ(view.hitTest({19, 10}), PanelHit::surface);
    EXPECT_EQ(view.hitTest({0, 63.5}), PanelHit::surface);
    for (Point outside : {Point{-1, 10}, Point{400, 10}, Point{200, 64}, Point{200, -0.5}})
        EXPECT_EQ(view.hitTest(outside), PanelHit::nothing) << outside.x << ", " << outside.y;
}

TEST(CardAsPanelContent, TheCloseButtonTakesItsPressesTheSurfaceGestures) {
    CardView view(content("a", "t"), noAppIcons);
    GestureLog log;
    log.attach(view);
    view.pointerEntered();
    const PointerEvent onButton{{10, 10}, {530, 853}};
    const PointerEvent nearButton{{13, 10}, {533, 853}};
    const PointerEvent farAway{{210, 10}, {730, 853}};

    // Pressed and released on the button, however it trembles: dismissed in place, no click.
    view.pointerDown(onButton);
    view.pointerDragged(nearButton);
    view.pointerUp(nearButton);
    EXPECT_EQ(log.swipes, std::vector<double>{0});
    EXPECT_EQ(log.clicks, 0);

    // Pressed on the button and released away from it: nothing, and the card never moved.
    view.pointerDown(onButton);
    view.pointerDragged(farAway);
    view.pointerUp(farAway);
    EXPECT_EQ(log.swipes, std::vector<double>{0});
    EXPECT_TRUE(log.offsets.empty());
    EXPECT_EQ(log.clicks, 0);

    // On the surface the pointer's screen x drives the card's gestures: a click, then a drag
    // of 200 points that leaves to the right.
    view.pointerDown(farAway);
    view.pointerUp(farAway);
    EXPECT_EQ(log.clicks, 1);
    view.pointerDown({{100, 30}, {620, 833}});
    view.pointerDragged({{200, 30}, {720, 833}});
    view.pointerDragged({{300, 30}, {820, 833}});
    view.pointerUp({{300, 30}, {820, 833}});
    EXPECT_EQ(log.offsets, (std::vector<double>{100, 200}));
    EXPECT_EQ(log.swipes, (std::vector<double>{0, 1}));

    // Scrolls are trackpad swipes.
    view.scrolled(scroll(ScrollEvent::began | ScrollEvent::changed, -30));
    EXPECT_EQ(log.offsets.back(), 30);
}

TEST(CardView, RendersToPNGOfItsSize) {
    pelko::testing::ScopedTempDir folder;
    CardView view(withBody("one\ntwo"), noAppIcons);
    auto path = (folder / "card.png").string();
    ASSERT_TRUE(renderCardPNG(view, path, 2));
    std::string png = pelko::testing::readFile(path);
    ASSERT_GT(png.size(), 24u);
    EXPECT_EQ(png.substr(1, 3), "PNG");
    auto be32 = [&](size_t at) {
        return static_cast<uint32_t>(static_cast<unsigned char>(png[at])) << 24 |
               static_cast<uint32_t>(static_cast<unsigned char>(png[at + 1])) << 16 |
               static_cast<uint32_t>(static_cast<unsigned char>(png[at + 2])) << 8 |
               static_cast<uint32_t>(static_cast<unsigned char>(png[at + 3]));
    };
    EXPECT_EQ(be32(16), 800u);  // IHDR width
    EXPECT_EQ(be32(20), static_cast<uint32_t>(2 * view.fittingHeight()));
    EXPECT_FALSE(renderCardPNG(view, (folder / "no-such-dir" / "x.png").string()));
}

}  // namespace
}  // namespace pelko::notifier

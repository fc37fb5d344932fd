// The contact sheet: its options, instants, grid, labels, failures and result line in-process
// on a scripted video, and the command end to end on videos made with the ffmpeg command,
// whose pictures carry their own number so that every cell can be checked for the exact
// picture at its instant.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <functional>
#include <map>
#include <memory>

#include "contact-sheet.h"
#include "frames-command.h"
#include "jpeg-quality.h"
#include "json-line.h"
#include "linux/ffmpeg-video.h"
#include "video-support.h"

namespace pelko::phone {
namespace {

using pelko::testing::ChildProcess;
using pelko::testing::ExitStatus;
using pelko::testing::readFile;
using pelko::testing::ScopedTempDir;
using pelko::testing::writeFile;
using testing::decodeJPEG;
using testing::readCounter;
using testing::RGBPicture;
using testing::runFFmpeg;

// ---------------------------------------------------------------------------------------------
// A scripted video

/// What a scripted video answers, and what it was asked.
struct VideoScript {
    std::optional<double> duration = 10.0;
    std::optional<std::size_t> tracks = 1;
    std::optional<VideoTrackGeometry> geometry = VideoTrackGeometry{{1920, 1080}, {}};
    /// Instants whose picture cannot be taken.
    std::function<bool(double)> fails = [](double) { return false; };

    std::vector<double> askedInstants;
    int askedWidth = 0;
    int askedHeight = 0;
};

/// Every picture is a plain red; they are handed over last cell first, as a backend may.
class ScriptedAsset final : public VideoAsset {
  public:
    explicit ScriptedAsset(VideoScript& script) : script_(script) {}
    std::optional<double> loadDuration() override { return script_.duration; }
    std::optional<std::size_t> loadVideoTrackCount() override { return script_.tracks; }
    std::optional<VideoTrackGeometry> loadFirstTrackGeometry() override { return script_.geometry; }
    void copyPictures(std::span<const double> instants, int width, int height,
                      const PictureHandler& handler) override {
        script_.askedInstants.assign(instants.begin(), instants.end());
        script_.askedWidth = width;
        script_.askedHeight = height;
        VideoPicture red{width, height, width * 4, {}};
        for (int i = 0; i < width * height; ++i) {
            red.bgra.insert(red.bgra.end(), {40, 40, 200, 255});
        }
        for (std::size_t i = instants.size(); i-- > 0;) {
            handler(i, script_.fails(instants[i]) ? nullptr : &red);
        }
    }

  private:
    VideoScript& script_;
};

class ScriptedVideoFiles final : public VideoFiles {
  public:
    explicit ScriptedVideoFiles(VideoScript& script) : script_(script) {}
    std::unique_ptr<VideoAsset> openAsset(const std::string&) override {
        return std::make_unique<ScriptedAsset>(script_);
    }

  private:
    VideoScript& script_;
};

// ---------------------------------------------------------------------------------------------
// Options, instants, grid, labels

TEST(FramesOptions, DefaultsAndLaterOptionsOverrideEarlierOnes) {
    auto none = parseFramesOptions({});
    ASSERT_TRUE(none);
    EXPECT_FALSE(none->start);
    EXPECT_FALSE(none->end);
    EXPECT_EQ(none->count, 12);
    EXPECT_EQ(none->tile, 360);

    const std::vector<std::string> arguments = {"--count", "4",     "--start", "1.5",     "--tile",
                                                "+640",    "--end", "1e1",     "--count", "36"};
    auto options = parseFramesOptions(arguments);
    ASSERT_TRUE(options);
    EXPECT_EQ(options->start, 1.5);
    EXPECT_EQ(options->end, 10.0);
    EXPECT_EQ(options->count, 36);
    EXPECT_EQ(options->tile, 640);
}

TEST(FramesOptions, EachValueMustPassItsTest) {
    struct Case {
        std::string name, value;
        bool accepted;
    };
    const Case cases[] = {
        {"--count", "0", false},   {"--count", "1", true},    {"--count", "36", true},
        {"--count", "37", false},  {"--count", "4.0", false}, {"--count", "", false},
        {"--tile", "63", false},   {"--tile", "64", true},    {"--tile", "2400", true},
        {"--tile", "2401", false}, {"--tile", " 100", false}, {"--start", "0", true},
        {"--start", "-1", false},  {"--start", "nan", false}, {"--start", "-0.001", false},
        {"--end", "inf", true},    {"--end", "3s", false},    {"--end", "", false},
        {"--speed", "2", false},   {"--start", " 1", false},
    };
    for (const auto& c : cases) {
        const std::vector<std::string> arguments = {c.name, c.value};
        EXPECT_EQ(parseFramesOptions(arguments).has_value(), c.accepted)
            << c.name << " " << c.value;
    }
    const std::vector<std::string> missingValue = {"--count", "4", "--tile"};
    EXPECT_FALSE(parseFramesOptions(missingValue));

    // Minus zero is taken as zero, never shown as "-0.0s".
    const std::vector<std::string> minusZero = {"--start", "-0", "--end", "-0.0"};
    const auto zero = parseFramesOptions(minusZero);
    ASSERT_TRUE(zero);
    EXPECT_FALSE(std::signbit(*zero->start));
    EXPECT_FALSE(std::signbit(*zero->end));
    EXPECT_EQ(timeLabel(samplingInstants(10, zero->start, zero->end, 1).front()), "0.0s");
}

TEST(SamplingInstants, CentresOfEqualSlicesHeldBeforeTheEnd) {
    const auto four = samplingInstants(10, {}, {}, 4);
    const double expected[] = {1.24375, 3.73125, 6.21875, 8.70625};
    ASSERT_EQ(four.size(), 4u);
    for (int i = 0; i < 4; ++i) EXPECT_DOUBLE_EQ(four[i], expected[i]) << i;

    const auto span = samplingInstants(10, 2.0, 4.0, 2);
    EXPECT_EQ(span, (std::vector<double>{2.5, 3.5}));

    // A start beyond the end: every picture 0.05 s before the end.
    EXPECT_EQ(samplingInstants(10, 100.0, {}, 3), (std::vector<double>{9.95, 9.95, 9.95}));
    // An end before the start: every picture at the start.
    EXPECT_EQ(samplingInstants(10, 5.0, 2.0, 2), (std::vector<double>{5.0, 5.0}));
    // A video shorter than the margin: everything at 0.
    EXPECT_EQ(samplingInstants(0.03, {}, {}, 2), (std::vector<double>{0.0, 0.0}));
    EXPECT_EQ(samplingInstants(NAN, 1.0, {}, 1), (std::vector<double>{0.0}));
    // A damaged file's duration near the largest number: every instant still inside it.
    for (const double instant : samplingInstants(DBL_MAX, {}, {}, 26))
        EXPECT_TRUE(instant > 0 && instant < DBL_MAX) << instant;
}

TEST(SheetGeometry, ColumnsRowsCellsAndSheetSize) {
    struct Case {
        std::int64_t count, tile;
        SizeValue shown;
        std::int64_t columns, rows, cellWidth, cellHeight, width, height;
    };
    const Case cases[] = {
        // 1080 × 360 / 1920 = 202.5: the half rounds up.
        {12, 360, {1920, 1080}, 6, 2, 360, 203, 2202, 424},
        // A phone recording turned a quarter: the transformed width comes out negative.
        {12, 360, {-1080, 1920}, 6, 2, 360, 640, 2202, 1298},
        {4, 360, {1920, 1080}, 4, 1, 360, 203, 1470, 215},
        {5, 360, {1920, 1080}, 4, 2, 360, 203, 1470, 424},
        {9, 360, {1920, 1080}, 6, 2, 360, 203, 2202, 424},
        {36, 64, {1920, 1080}, 6, 6, 64, 36, 426, 258},
        {1, 360, {1920, 1080}, 1, 1, 360, 203, 372, 215},
        // A tile wider than the video: cells as wide as the video.
        {5, 2400, {320, 180}, 4, 2, 320, 180, 1310, 378},
        // A sliver of a video still gets one row of pixels.
        {1, 360, {100000, 10}, 1, 1, 360, 1, 372, 13},
        // A damaged file's sliver the other way: cells held at a height no sheet is drawn at,
        // rather than a height that overflows.
        {12, 360, {1, 1e300}, 6, 2, 1, INT_MAX, 48, 2LL * INT_MAX + 18},
    };
    for (const Case& c : cases) {
        const SheetGeometry g =
            sheetGeometry(c.count, c.tile, c.shown, std::llround(std::fabs(c.shown.width)));
        EXPECT_EQ(g.columns, c.columns) << c.count;
        EXPECT_EQ(g.rows, c.rows) << c.count;
        EXPECT_EQ(g.cellWidth, c.cellWidth) << c.count;
        EXPECT_EQ(g.cellHeight, c.cellHeight) << c.count;
        EXPECT_EQ(g.width, c.width) << c.count;
        EXPECT_EQ(g.height, c.height) << c.count;
    }
}

TEST(SheetGeometry, CellsFillRowsFromTheTopLeft) {
    const SheetGeometry g = sheetGeometry(5, 360, {1920, 1080}, 1920);
    EXPECT_EQ(g.cell(0), (CellRect{6, 6, 360, 203}));
    EXPECT_EQ(g.cell(3), (CellRect{1104, 6, 360, 203}));
    // The fifth cell starts the second row, alone in it.
    EXPECT_EQ(g.cell(4), (CellRect{6, 215, 360, 203}));
    EXPECT_EQ(g.cell(4).y + 203 + 6, g.height);
}

TEST(SheetLabels, TextSizeAndRounding) {
    EXPECT_EQ(timeLabel(12.5), "12.5s");
    EXPECT_EQ(timeLabel(1.24375), "1.2s");
    EXPECT_EQ(timeLabel(0), "0.0s");
    EXPECT_EQ(timeLabel(599.96), "600.0s");
    // A damaged file can claim any duration; its labels stay whole numbers of seconds.
    const std::string huge = timeLabel(1e70);
    EXPECT_EQ(huge.size(), 71u + 3u) << huge;  // 71 digits and ".0s"
    EXPECT_TRUE(huge.ends_with(".0s")) << huge;
    EXPECT_EQ(labelFontSize(360), 20);
    EXPECT_EQ(labelFontSize(64), 11) << "never below 11";
    EXPECT_EQ(labelFontSize(207), 12) << "11.5 rounds up";
    EXPECT_EQ(labelFontSize(2400), 133);

    EXPECT_EQ(roundedToHundredths(1.24375), 1.24);
    EXPECT_EQ(roundedToHundredths(8.70625), 8.71);
    EXPECT_EQ(roundedToHundredths(0.125), 0.13) << "halves away from zero";
    EXPECT_EQ(roundedToHundredths(-0.125), -0.13);
}

TEST(SheetLabels, TheBadgeHugsTheTextFourPixelsInsideTheCellsCorner) {
    const SheetGeometry geometry = sheetGeometry(1, 360, {1920, 1080}, 1920);
    auto sheet = ContactSheet::create(geometry);
    ASSERT_TRUE(sheet);
    sheet->drawPicture(0, nullptr);
    sheet->drawLabel(0, 12.5);

    // The text measured on its own, in the label's face.
    SurfacePtr scratch(cairo_image_surface_create(CAIRO_FORMAT_RGB24, 1, 1));
    CairoPtr cairo(cairo_create(scratch.get()));
    GObjectPtr<PangoLayout> layout(pango_cairo_create_layout(cairo.get()));
    pango_layout_set_font_description(
        layout.get(), describeFont(labelFontFamily, labelFontSize(360), labelFontWeight).get());
    PangoAttrList* attributes = pango_attr_list_new();
    pango_attr_list_insert(attributes, pango_attr_font_features_new(labelFontFeatures));
    pango_layout_set_attributes(layout.get(), attributes);
    pango_attr_list_unref(attributes);
    pango_layout_set_text(layout.get(), "12.5s", -1);
    PangoRectangle text;
    pango_layout_get_extents(layout.get(), nullptr, &text);

    // The cell starts at (6, 6); the badge 4 further in, 8 wider and 4 higher than the text.
    // Each edge is checked on the first pixel wholly outside it and the last wholly inside.
    const double left = 10, top = 10;
    const double right = left + text.width / double(PANGO_SCALE) + 8;
    const double bottom = top + text.height / double(PANGO_SCALE) + 4;
    const int midX = static_cast<int>((left + right) / 2);
    const int midY = static_cast<int>((top + bottom) / 2);
    auto green = [&](int x, int y) {
        return int(sheet->pixels()[y * sheet->bytesPerRow() + x * 4 + 1]);
    };
    struct Edge {
        const char* name;
        int outsideX, outsideY, insideX, insideY;
    };
    const Edge edges[] = {
        {"left", int(left) - 1, midY, int(left), midY},
        {"top", midX, int(top) - 1, midX, int(top)},
        {"right", int(std::ceil(right)), midY, int(right) - 1, midY},
        {"bottom", midX, int(std::ceil(bottom)), midX, int(bottom) - 1},
    };
    for (const auto& [name, outsideX, outsideY, insideX, insideY] : edges) {
        EXPECT_EQ(green(outsideX, outsideY), 51) << name << ": the grey of a missing picture";
        EXPECT_NEAR(green(insideX, insideY), 51 * 0.28, 1.5) << name << ": black at 0.72 over it";
    }
}

// ---------------------------------------------------------------------------------------------
// Turning pictures by the display matrix

TEST(QuarterTurns, MatricesSnapToQuarterTurnsAndMirrors) {
    using linux_backend::QuarterTurn;
    using linux_backend::quarterTurnOf;
    EXPECT_EQ(quarterTurnOf({}), (QuarterTurn{1, 0, 0, 1}));
    EXPECT_EQ(quarterTurnOf({0, 1, -1, 0, 1080, 0}), (QuarterTurn{0, 1, -1, 0}));
    EXPECT_EQ(quarterTurnOf({0, 2, -2, 0, 0, 0}), (QuarterTurn{0, 1, -1, 0})) << "scale ignored";
    EXPECT_EQ(quarterTurnOf({-1, 0, 0, -1, 0, 0}), (QuarterTurn{-1, 0, 0, -1}));
    EXPECT_EQ(quarterTurnOf({-1, 0, 0, 1, 0, 0}), (QuarterTurn{-1, 0, 0, 1})) << "a mirror";
    EXPECT_EQ(quarterTurnOf({0.7071, 0.7071, -0.7071, 0.7071, 0, 0}), QuarterTurn{})
        << "an eighth of a turn is none";
    EXPECT_EQ(quarterTurnOf({0, 0, 0, 0, 0, 0}), QuarterTurn{});
    EXPECT_TRUE(QuarterTurn({0, -1, 1, 0}).swapsSides());
}

TEST(QuarterTurns, PixelsMoveWhereTheTurnSendsThem) {
    // A 3 × 2 picture whose pixels hold their own number 1 to 6, row by row.
    const std::uint32_t stored[6] = {1, 2, 3, 4, 5, 6};
    auto turned = [&](linux_backend::QuarterTurn turn) {
        std::vector<std::uint32_t> into(6);
        const int width = turn.swapsSides() ? 2 : 3;
        linux_backend::turnPixels(reinterpret_cast<const std::uint8_t*>(stored), 3, 2, 12, turn,
                                  reinterpret_cast<std::uint8_t*>(into.data()), width * 4);
        return into;
    };
    // Clockwise: the left column, read upward, becomes the top row.
    EXPECT_EQ(turned({0, 1, -1, 0}), (std::vector<std::uint32_t>{4, 1, 5, 2, 6, 3}));
    EXPECT_EQ(turned({0, -1, 1, 0}), (std::vector<std::uint32_t>{3, 6, 2, 5, 1, 4}));
    EXPECT_EQ(turned({-1, 0, 0, -1}), (std::vector<std::uint32_t>{6, 5, 4, 3, 2, 1}));
    EXPECT_EQ(turned({-1, 0, 0, 1}), (std::vector<std::uint32_t>{3, 2, 1, 6, 5, 4}));
}

// ---------------------------------------------------------------------------------------------
// The sheet drawn from a scripted video

class ScriptedSheet : public ::testing::Test {
  protected:
    FramesResult make(const FramesOptions& options = {}) {
        return makeContactSheet(videos, "/videos/clip.mp4", output.string(), options);
    }
    /// The failure `make` ends in, or "" when it succeeds.
    std::string failure(const FramesOptions& options = {}) {
        try {
            make(options);
        } catch (const FramesFailure& failed) {
            return failed.what();
        }
        return "";
    }

    VideoScript script;
    ScriptedVideoFiles videos{script};
    ScopedTempDir folder;
    std::filesystem::path output = folder / "sheet.jpg";
};

TEST_F(ScriptedSheet, EachFailureHasItsSentenceAndWritesNothing) {
    struct Case {
        std::function<void(VideoScript&)> change;
        std::string_view message;
    };
    const Case cases[] = {
        {[](VideoScript& s) { s.duration.reset(); }, framesMessages::unreadable},
        {[](VideoScript& s) { s.duration = 0; }, framesMessages::unreadable},
        {[](VideoScript& s) { s.duration = INFINITY; }, framesMessages::unreadable},
        {[](VideoScript& s) { s.duration = NAN; }, framesMessages::unreadable},
        // The duration is examined first: a file without a duration and without pictures.
        {[](VideoScript& s) { s.duration.reset(), s.tracks = 0; }, framesMessages::unreadable},
        {[](VideoScript& s) { s.tracks.reset(); }, framesMessages::noPicture},
        {[](VideoScript& s) { s.tracks = 0; }, framesMessages::noPicture},
        {[](VideoScript& s) { s.geometry.reset(); }, framesMessages::sizeUnreadable},
        {[](VideoScript& s) {
             s.geometry->naturalSize = {0, 1080};
         },
         framesMessages::noPictureSize},
        {[](VideoScript& s) {
             s.geometry->naturalSize = {1920, NAN};
         },
         framesMessages::noPictureSize},
        // A transform that flattens the picture.
        {[](VideoScript& s) { s.geometry->preferredTransform = {1, 0, 1, 0, 0, 0}; },
         framesMessages::noPictureSize},
        {[](VideoScript& s) { s.fails = [](double) { return true; }; }, framesMessages::noFrame},
        // Cells a million pixels high: more than the drawing library's largest surface.
        {[](VideoScript& s) {
             s.geometry->naturalSize = {64, 1e6};
         },
         framesMessages::notDrawn},
    };
    for (const Case& c : cases) {
        script = VideoScript{};
        c.change(script);
        EXPECT_EQ(failure(), c.message);
        EXPECT_FALSE(std::filesystem::exists(output)) << c.message;
    }

    script = VideoScript{};
    output = folder / "missing-folder" / "sheet.jpg";
    EXPECT_EQ(failure(), framesMessages::notWritten);
}

TEST_F(ScriptedSheet, CellsThatFailStayGreyAndKeepTheirLabels) {
    // The second of four pictures cannot be taken.
    script.fails = [](double instant) { return instant > 3 && instant < 4; };
    FramesOptions options;
    options.count = 4;
    const FramesResult result = make(options);
    EXPECT_EQ(script.askedInstants, result.times);
    EXPECT_EQ(script.askedWidth, 360);
    EXPECT_EQ(script.askedHeight, 203);

    const std::string written = readFile(output);
    EXPECT_EQ(pelko::testing::jpegQualityOf(
                  {reinterpret_cast<const std::uint8_t*>(written.data()), written.size()}),
              85);
    auto sheet = decodeJPEG(written);
    ASSERT_TRUE(sheet);
    ASSERT_EQ(sheet->width, 1470);
    ASSERT_EQ(sheet->height, 215);
    const SheetGeometry geometry = sheetGeometry(4, 360, {1920, 1080}, 1920);
    for (int i = 0; i < 4; ++i) {
        const CellRect cell = geometry.cell(i);
        const int centreX = static_cast<int>(cell.x + cell.width / 2);
        const int centreY = static_cast<int>(cell.y + cell.height / 2);
        const std::uint8_t* centre = sheet->at(centreX, centreY);
        if (i == 1) {
            for (int channel = 0; channel < 3; ++channel) EXPECT_NEAR(centre[channel], 51, 3);
        } else {
            EXPECT_NEAR(centre[0], 200, 6) << i;
            EXPECT_NEAR(centre[1], 40, 6) << i;
        }
        // The badge darkens the cell's top-left corner and carries white text.
        int darkest = 255, white = 0;
        for (int y = static_cast<int>(cell.y) + 5; y < cell.y + 28; ++y) {
            for (int x = static_cast<int>(cell.x) + 5; x < cell.x + 45; ++x) {
                darkest = std::min(darkest, sheet->luma(x, y));
                white += sheet->luma(x, y) > 200;
            }
        }
        EXPECT_LT(darkest, 40) << i;
        EXPECT_GT(white, 15) << i;
        // Outside the badge the picture (or grey) shows unchanged.
        EXPECT_GT(
            sheet->luma(static_cast<int>(cell.x + cell.width - 10), static_cast<int>(cell.y + 8)),
            40)
            << i;
    }
    // The gap after the last cell shows the background.
    EXPECT_NEAR(sheet->luma(1467, 100), 19, 4);
}

TEST_F(ScriptedSheet, TheResultLineReportsTheVideoAndTheSheet) {
    script.duration = 9.996;
    script.geometry = VideoTrackGeometry{{1920, 1080}, {0, 1, -1, 0, 1080, 0}};
    FramesOptions options;
    options.count = 4;
    const FramesResult result = make(options);
    const std::string line = framesResultLine(result);
    ASSERT_TRUE(line.ends_with("}\n"));
    EXPECT_EQ(line.find(' '), std::string::npos) << "compact";
    auto parsed = parseJSON(line.substr(0, line.size() - 1));
    ASSERT_TRUE(parsed);
    EXPECT_EQ((*parsed)["duration"], 10.0);
    EXPECT_EQ((*parsed)["width"], 1080);
    EXPECT_EQ((*parsed)["height"], 1920);
    EXPECT_EQ((*parsed)["sheetWidth"], 1470);
    EXPECT_EQ((*parsed)["sheetHeight"], 652);
    // Slices of [0, 9.946]: 1.24325, 3.72975, 6.21625, 8.70275.
    EXPECT_EQ((*parsed)["times"], JSON::parse("[1.24,3.73,6.22,8.7]"));
    EXPECT_EQ(script.askedWidth, 360);
    EXPECT_EQ(script.askedHeight, 640);
}

// ---------------------------------------------------------------------------------------------
// The command end to end, on real videos

struct PhoneRun {
    std::string output;
    std::string error;
    std::optional<ExitStatus> status;
};

PhoneRun runPhone(const std::vector<std::string>& arguments) {
    std::vector<std::string> argv{PELKO_PHONE_BINARY};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    pelko::testing::ChildOptions options;
    options.nullStdin = true;
    ChildProcess phone(argv, options);
    PhoneRun run;
    run.output = phone.readToEnd(std::chrono::seconds(60));
    run.status = phone.waitExit(std::chrono::seconds(60));
    run.error = phone.stderrText();
    return run;
}

/// Videos made once for all the end-to-end tests.
class FramesCommand : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        folder = new ScopedTempDir;
        const std::string counterGraph = testing::counterVideoGraph(320, 180, 25, 10, 20);
        auto encode = [&](std::vector<std::string> arguments) {
            return [arguments](const std::filesystem::path& into) {
                std::vector<std::string> all = arguments;
                all.push_back(into.string());
                return runFFmpeg(all, &ffmpegMessages);
            };
        };
        struct Recipe {
            const char* name;
            std::function<bool(const std::filesystem::path&)> make;
        };
        const Recipe recipes[] = {
            // Numbered pictures at 25 per second: one key frame only, and one every 2 s, both
            // with pictures that other pictures are not made from (B-frames).
            {"counter-one-key.mp4",
             encode({"-f", "lavfi", "-i", counterGraph, "-c:v", "libx264", "-g", "1000"})},
            {"counter.mp4", encode({"-f", "lavfi", "-i", counterGraph, "-c:v", "libx264", "-g",
                                    "50", "-keyint_min", "50", "-sc_threshold", "0"})},
            {"landscape.mp4", encode({"-f", "lavfi", "-i", "color=c=blue:s=1920x1080:r=10:d=2",
                                      "-c:v", "libx264", "-preset", "ultrafast"})},
            // Stored landscape with a red corner at the top left, recorded turned a quarter.
            {"portrait.mp4",
             [&](const std::filesystem::path& into) {
                 return encode({"-f", "lavfi", "-i",
                                "color=c=blue:s=1920x1080:r=10:d=1,"
                                "drawbox=x=0:y=0:w=480:h=270:color=red:t=fill",
                                "-c:v", "libx264", "-preset", "ultrafast"})(into) &&
                        testing::turnQuarterClockwise(into, 1080);
             }},
            {"sound.m4a", encode({"-f", "lavfi", "-i", "sine=d=1"})},
            // Numbered pictures whose data is all erased.
            {"broken.mp4",
             [&](const std::filesystem::path& into) {
                 return encode({"-f", "lavfi", "-i", counterGraph, "-t", "2", "-c:v", "libx264"})(
                            into) &&
                        testing::eraseMediaData(into);
             }},
        };
        made = true;
        for (const Recipe& recipe : recipes) {
            auto file = testing::cachedMedia(recipe.name, recipe.make);
            made = made && file.has_value();
            if (file) media[recipe.name] = *file;
        }
    }
    static void TearDownTestSuite() {
        delete folder;
        folder = nullptr;
    }
    void SetUp() override { ASSERT_TRUE(made) << ffmpegMessages; }

    /// A video made for the tests, or a file of the test's folder.
    static std::string video(const char* name) {
        auto made = media.find(name);
        return made != media.end() ? made->second.string() : (*folder / name).string();
    }

    /// Runs `frames` on `name`; the sheet decoded, the result line parsed.
    struct Sheet {
        PhoneRun run;
        JSON result;
        std::optional<RGBPicture> picture;
    };
    Sheet frames(const char* name, std::vector<std::string> options = {}) {
        const std::string output = (sheets / (std::string(name) + ".jpg")).string();
        std::vector<std::string> arguments = {"frames", video(name), output};
        arguments.insert(arguments.end(), options.begin(), options.end());
        Sheet sheet;
        sheet.run = runPhone(arguments);
        if (auto parsed = parseJSON(sheet.run.output)) sheet.result = *parsed;
        sheet.picture = decodeJPEG(readFile(output));
        return sheet;
    }

    static ScopedTempDir* folder;
    static std::map<std::string, std::filesystem::path> media;
    static bool made;
    static std::string ffmpegMessages;
    ScopedTempDir sheets;
};

ScopedTempDir* FramesCommand::folder = nullptr;
std::map<std::string, std::filesystem::path> FramesCommand::media;
bool FramesCommand::made = false;
std::string FramesCommand::ffmpegMessages;

TEST_F(FramesCommand, ALandscapeVideoWithTheDefaults) {
    Sheet sheet = frames("landscape.mp4");
    EXPECT_EQ(sheet.run.status, (ExitStatus{true, 0, 0})) << sheet.run.error;
    EXPECT_EQ(sheet.run.error, "");
    ASSERT_TRUE(sheet.run.output.ends_with("}\n"));
    EXPECT_EQ(std::count(sheet.run.output.begin(), sheet.run.output.end(), '\n'), 1);
    EXPECT_EQ(sheet.result["duration"], 2.0);
    EXPECT_EQ(sheet.result["width"], 1920);
    EXPECT_EQ(sheet.result["height"], 1080);
    EXPECT_EQ(sheet.result["sheetWidth"], 2202);
    EXPECT_EQ(sheet.result["sheetHeight"], 424);
    EXPECT_EQ(sheet.result["times"].size(), 12u);
    EXPECT_EQ(sheet.result["times"][0], 0.08);
    ASSERT_TRUE(sheet.picture);
    EXPECT_EQ(sheet.picture->width, 2202);
    EXPECT_EQ(sheet.picture->height, 424);
    // The last cell, bottom right, shows the blue video.
    const std::uint8_t* blue = sheet.picture->at(2202 - 6 - 180, 424 - 6 - 100);
    EXPECT_LT(blue[0], 30);
    EXPECT_GT(blue[2], 220);
}

TEST_F(FramesCommand, APortraitRecordingIsShownTurned) {
    Sheet sheet = frames("portrait.mp4", {"--count", "1"});
    EXPECT_EQ(sheet.run.status, (ExitStatus{true, 0, 0})) << sheet.run.error;
    EXPECT_EQ(sheet.result["width"], 1080);
    EXPECT_EQ(sheet.result["height"], 1920);
    EXPECT_EQ(sheet.result["sheetWidth"], 372);
    EXPECT_EQ(sheet.result["sheetHeight"], 652);
    ASSERT_TRUE(sheet.picture);
    ASSERT_EQ(sheet.picture->height, 652);
    // Turned clockwise, the stored top-left corner (red) shows at the top right.
    const std::uint8_t* topRight = sheet.picture->at(6 + 340, 6 + 20);
    const std::uint8_t* bottomLeft = sheet.picture->at(6 + 20, 6 + 620);
    const std::uint8_t* bottomRight = sheet.picture->at(6 + 340, 6 + 620);
    EXPECT_GT(topRight[0], 200);
    EXPECT_LT(topRight[2], 60);
    EXPECT_GT(bottomLeft[2], 200);
    EXPECT_GT(bottomRight[2], 200);

    Sheet twelve = frames("portrait.mp4");
    EXPECT_EQ(twelve.result["sheetWidth"], 2202);
    EXPECT_EQ(twelve.result["sheetHeight"], 1298);
    ASSERT_TRUE(twelve.picture);
    EXPECT_EQ(twelve.picture->height, 1298);
}

/// The number of the picture that shows at `instant` in the 25-per-second counter videos.
unsigned pictureAt(double instant) {
    return static_cast<unsigned>(std::floor(instant * 25));
}

/// The numbers the cells of a counter video's sheet show.
std::vector<unsigned> cellNumbers(const RGBPicture& picture, std::int64_t count) {
    const SheetGeometry geometry = sheetGeometry(count, 360, {320, 180}, 320);
    std::vector<unsigned> numbers;
    for (std::int64_t i = 0; i < count; ++i) {
        const CellRect cell = geometry.cell(i);
        numbers.push_back(readCounter(picture, static_cast<int>(cell.x), static_cast<int>(cell.y),
                                      static_cast<int>(cell.width), static_cast<int>(cell.height),
                                      20.0 / 180));
    }
    return numbers;
}

TEST_F(FramesCommand, EveryCellShowsThePictureAtItsInstantNotAKeyFrame) {
    for (const char* name : {"counter-one-key.mp4", "counter.mp4"}) {
        Sheet four = frames(name, {"--count", "4"});
        EXPECT_EQ(four.run.status, (ExitStatus{true, 0, 0})) << four.run.error;
        EXPECT_EQ(four.result["duration"], 10.0);
        EXPECT_EQ(four.result["times"], JSON::parse("[1.24,3.73,6.22,8.71]"));
        ASSERT_TRUE(four.picture);
        EXPECT_EQ(cellNumbers(*four.picture, 4), (std::vector<unsigned>{31, 93, 155, 217})) << name;

        Sheet twelve = frames(name);
        ASSERT_TRUE(twelve.picture);
        std::vector<unsigned> expected;
        for (double instant : samplingInstants(10, {}, {}, 12)) {
            expected.push_back(pictureAt(instant));
            EXPECT_NE(pictureAt(instant) % 50, 0u) << "the instants avoid the key frames";
        }
        EXPECT_EQ(cellNumbers(*twelve.picture, 12), expected) << name;
    }
}

TEST_F(FramesCommand, AStartBeyondTheEndAndAnEndBeforeTheStart) {
    Sheet late = frames("counter.mp4", {"--count", "4", "--start", "100"});
    EXPECT_EQ(late.result["times"], JSON::parse("[9.95,9.95,9.95,9.95]"));
    ASSERT_TRUE(late.picture);
    EXPECT_EQ(cellNumbers(*late.picture, 4), (std::vector<unsigned>(4, 248)));

    Sheet backwards = frames("counter.mp4", {"--count", "4", "--start", "5", "--end", "2"});
    EXPECT_EQ(backwards.result["times"], JSON::parse("[5.0,5.0,5.0,5.0]"));
    ASSERT_TRUE(backwards.picture);
    EXPECT_EQ(cellNumbers(*backwards.picture, 4), (std::vector<unsigned>(4, 125)));
}

TEST_F(FramesCommand, ATileWiderThanTheVideoAndFiveCells) {
    Sheet sheet = frames("counter.mp4", {"--tile", "2400", "--count", "5"});
    EXPECT_EQ(sheet.result["width"], 320);
    EXPECT_EQ(sheet.result["sheetWidth"], 1310);
    EXPECT_EQ(sheet.result["sheetHeight"], 378);
    ASSERT_TRUE(sheet.picture);
    EXPECT_EQ(sheet.picture->width, 1310);
    EXPECT_EQ(sheet.picture->height, 378);
    EXPECT_EQ(cellNumbers(*sheet.picture, 5)[4], pictureAt(9.95 * 4.5 / 5));
    // The second row holds one cell: the rest of it is background.
    EXPECT_NEAR(sheet.picture->luma(1310 - 100, 378 - 90), 18, 4);
}

TEST_F(FramesCommand, FilesThatGiveNoSheet) {
    writeFile(*folder / "notes.mp4", "these are notes, not a video\n");
    struct Case {
        const char* name;
        std::string_view message;
    };
    const Case cases[] = {
        {"notes.mp4", framesMessages::unreadable},
        {"missing.mp4", framesMessages::unreadable},
        {"sound.m4a", framesMessages::noPicture},
        {"broken.mp4", framesMessages::noFrame},
    };
    for (const Case& c : cases) {
        Sheet sheet = frames(c.name);
        EXPECT_EQ(sheet.run.status, (ExitStatus{true, 1, 0})) << c.name;
        EXPECT_EQ(sheet.run.output, "") << c.name;
        EXPECT_EQ(sheet.run.error, std::string(c.message) + "\n") << c.name;
        EXPECT_FALSE(sheet.picture) << c.name;
    }
}

}  // namespace
}  // namespace pelko::phone

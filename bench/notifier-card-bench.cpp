// pelko-notifier card benchmark: the time the resident's main thread spends on one card, from
// its content to a drawn picture (building the view, measuring its height as the stack's layout
// does, drawing it), for a short card and for cards whose title and body are one unbroken word
// of a given length. Figures are printed, never asserted.
// Usage: notifier-card-bench [characters...] (default 1048576; each size is one unbroken word
// of that many bytes in title and body).
#include <cairo.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "card-view.h"
#include "sim/sim-app-icons.h"

using namespace pelko::notifier;
using SteadyClock = std::chrono::steady_clock;

namespace {

const pelko::notifier::SimAppIcons noAppIcons;

/// Milliseconds for one card: view, height, drawing.
double timeCard(const CardContent& content) {
    const auto start = SteadyClock::now();
    CardView view(content, noAppIcons);
    const double height = view.fittingHeight();
    cairo_surface_t* surface = cairo_image_surface_create(
        CAIRO_FORMAT_ARGB32, static_cast<int>(CardView::width), static_cast<int>(height));
    cairo_t* cairo = cairo_create(surface);
    view.draw(cairo, {CardView::width, height});
    cairo_destroy(cairo);
    cairo_surface_destroy(surface);
    return std::chrono::duration<double, std::milli>(SteadyClock::now() - start).count();
}

/// The median of `rounds` timings, after one unmeasured round (fonts load on the first).
double medianTime(const CardContent& content, int rounds) {
    timeCard(content);
    std::vector<double> times;
    for (int i = 0; i < rounds; ++i) times.push_back(timeCard(content));
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

CardContent card(std::string title, std::string body) {
    CardContent content;
    content.id = "bench";
    content.title = std::move(title);
    content.body = std::move(body);
    return content;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<size_t> sizes;
    for (int i = 1; i < argc; ++i) sizes.push_back(std::strtoull(argv[i], nullptr, 10));
    if (sizes.empty()) sizes.push_back(1 << 20);

    const double shortCard =
        medianTime(card("Build finished", "All 312 tests passed in 4 min."), 21);
    std::printf("%-44s %10.2f ms\n", "short card (title and body)", shortCard);
    const double cutCard = medianTime(
        card("Build finished", "one\ntwo\nthree\nfour\nfive\nsix\nseven\neight\nnine\nten"), 21);
    std::printf("%-44s %10.2f ms  (%.1f x the short card)\n", "ten-line body, cut at three lines",
                cutCard, cutCard / shortCard);
    for (size_t size : sizes) {
        const std::string word(size, 'x');
        const int rounds = size > 100000 ? 5 : 3;
        const double time = medianTime(card(word, word), rounds);
        char what[64];
        std::snprintf(what, sizeof what, "title and body of %zu unbroken bytes", size);
        std::printf("%-44s %10.2f ms  (%.1f x the short card)\n", what, time, time / shortCard);
    }
    return 0;
}

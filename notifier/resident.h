// The resident role: owns the message port, keeps the stack of cards at the top of the screen
// that holds the pointer, and exits by itself a minute after its last card has gone.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "card-content.h"
#include "card-view.h"
#include "platform/platform.h"

namespace pelko::notifier {

/// One shown notification. `view` is declared before `panel` so that the panel, which shows
/// the view, goes first.
struct Card {
    CardContent content;
    std::unique_ptr<CardView> view;
    std::unique_ptr<Panel> panel;
    /// Where `layout` last placed the card; zero until then.
    Rect restingFrame;
    /// Set once the exit animation has begun; never cleared.
    bool leaving = false;
};

/// Whether `text` is a URL that can be opened: a scheme ("https:", "mailto:", ...) followed by
/// characters that may appear in a URL, percent signs only before two hexadecimal digits.
bool isOpenableURL(const std::string& text);

/// The application delegate of the resident. Lives in a `std::shared_ptr`: the cards' callbacks,
/// the timer and the animation completions hold it weakly. Used on the main thread only.
class Resident : public std::enable_shared_from_this<Resident> {
  public:
    static constexpr size_t maxCards = 4;
    static constexpr double gap = 10;
    static constexpr double topMargin = 12;

    /// The seams of `platform` must outlive the resident.
    explicit Resident(const Platform& platform);
    Resident(const Resident&) = delete;
    Resident& operator=(const Resident&) = delete;

    /// Registers the port and arms the idle exit; ends the application with status 0 at once
    /// when another resident holds the port name.
    void applicationDidFinishLaunching();
    /// The port's callback: a request with a payload is handled later on the main queue.
    void receive(int32_t messageId, std::string payload);
    /// Acts on one message: a post shows or updates a card, a clear dismisses cards by id;
    /// anything else is ignored.
    void handle(const std::string& data);
    /// Shows a new card for `content`, or updates the shown card with its id and moves it to the
    /// top.
    void post(const CardContent& content);
    /// Sends `card` away: 0 fades it out in place, +1 or -1 slides it off to that side.
    void dismiss(const std::shared_ptr<Card>& card, double direction);
    /// Places every card that is not leaving, newest at the top, on the pointer's screen.
    void layout();
    /// (Re)arms the idle exit, 60 seconds from now.
    void scheduleIdleExit();

    /// Every card still on screen, newest first, leaving ones included.
    const std::vector<std::shared_ptr<Card>>& cards() const { return cards_; }
    /// Whether the port is registered.
    bool hasPort() const { return port_ != nullptr; }

  private:
    void idleTimerFired();

    Windowing& windowing_;
    MessagePorts& ports_;
    const AppIcons& appIcons_;
    std::unique_ptr<LocalPort> port_;
    std::vector<std::shared_ptr<Card>> cards_;
    std::unique_ptr<Timer> idleTimer_;
    /// Requests received but not yet handled: the resident never exits on a message it has
    /// acknowledged and not yet shown.
    int unhandledMessages_ = 0;
};

}  // namespace pelko::notifier

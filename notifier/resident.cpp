#include "resident.h"

#include <algorithm>
#include <cctype>
#include <cmath>

#include "message.h"

namespace pelko::notifier {
namespace {

constexpr Duration idleExitDelay = seconds(60);
constexpr Duration closeDuration = seconds(0.16);
constexpr Duration slideDuration = seconds(0.2);
constexpr Duration placeDuration = seconds(0.2);
constexpr Duration snapBackDuration = seconds(0.18);
constexpr double slideDistance = 480;
constexpr double riseDistance = 10;
/// A dragged card dims with distance, down to this alpha.
constexpr double dragMinimumAlpha = 0.25;
constexpr double dragFadeDistance = 260;

/// Live movement and dimming of a card while it is dragged or swiped; 0 snaps it back.
void dragFeedback(Windowing& windowing, Card& card, double dx) {
    if (card.leaving) return;
    if (dx != 0) {
        card.panel->setFrame(card.restingFrame.offsetBy(dx, 0), true);
        card.panel->setAlpha(std::max(1 - std::abs(dx) / dragFadeDistance, dragMinimumAlpha));
        return;
    }
    windowing.animate(snapBackDuration, {{card.panel.get(), card.restingFrame, 1.0}}, nullptr);
}

bool isHexDigit(char c) {
    return std::isxdigit(static_cast<unsigned char>(c)) != 0;
}

}  // namespace

bool isOpenableURL(const std::string& text) {
    size_t colon = text.find(':');
    if (colon == std::string::npos || colon == 0) return false;
    if (!std::isalpha(static_cast<unsigned char>(text[0]))) return false;
    for (size_t i = 1; i < colon; ++i) {
        char c = text[i];
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '+' && c != '-' && c != '.')
            return false;
    }
    static const std::string allowed = "-._~:/?#[]@!$&'()*+,;=";
    for (size_t i = colon + 1; i < text.size(); ++i) {
        char c = text[i];
        if (c == '%') {
            if (i + 2 >= text.size() || !isHexDigit(text[i + 1]) || !isHexDigit(text[i + 2]))
                return false;
            i += 2;
            continue;
        }
        if (std::isalnum(static_cast<unsigned char>(c)) || allowed.find(c) != std::string::npos)
            continue;
        return false;
    }
    return true;
}

Resident::Resident(const Platform& platform)
    : windowing_(platform.windowing), ports_(platform.ports), appIcons_(platform.appIcons) {}

void Resident::applicationDidFinishLaunching() {
    std::weak_ptr<Resident> weak = weak_from_this();
    port_ = ports_.createLocal(
        portName,
        [weak](int32_t messageId, std::string payload) {
            if (auto resident = weak.lock()) resident->receive(messageId, std::move(payload));
        },
        [&windowing = windowing_](std::function<void()> task) { windowing.post(std::move(task)); });
    if (!port_) {
        // Another resident holds the name: it shows the cards, this one leaves quietly.
        windowing_.exitApplication(0);
        return;
    }
    scheduleIdleExit();
}

void Resident::receive(int32_t /*messageId*/, std::string payload) {
    if (payload.empty()) return;
    ++unhandledMessages_;
    std::weak_ptr<Resident> weak = weak_from_this();
    windowing_.post([weak, payload = std::move(payload)] {
        auto resident = weak.lock();
        if (!resident) return;
        --resident->unhandledMessages_;
        resident->handle(payload);
    });
}

void Resident::handle(const std::string& data) {
    auto message = parseJSON(data);
    if (!message || !message->is_object()) return;
    auto command = message->find("cmd");
    if (command == message->end() || !command->is_string()) return;
    if (*command == "post") {
        if (auto content = CardContent::fromMessage(*message)) post(*content);
    } else if (*command == "clear") {
        std::vector<std::string> ids;
        auto list = message->find("ids");
        if (list != message->end() && list->is_array() &&
            std::all_of(list->begin(), list->end(), [](const JSON& id) { return id.is_string(); }))
            ids = list->get<std::vector<std::string>>();
        for (const std::string& id : ids) {
            auto card = std::find_if(cards_.begin(), cards_.end(),
                                     [&](const auto& c) { return c->content.id == id; });
            if (card != cards_.end()) dismiss(*card, 0);
        }
    }
}

void Resident::post(const CardContent& content) {
    if (idleTimer_) {
        idleTimer_->invalidate();
        idleTimer_.reset();
    }
    for (auto it = cards_.begin(); it != cards_.end(); ++it) {
        std::shared_ptr<Card> card = *it;
        if (card->leaving || card->content.id != content.id) continue;
        card->content = content;
        card->view->update(content);
        cards_.erase(it);
        cards_.insert(cards_.begin(), card);
        layout();
        return;
    }

    auto card = std::make_shared<Card>();
    card->content = content;
    card->view = std::make_unique<CardView>(content, appIcons_);
    card->panel = windowing_.createPanel(CardPanelSettings{}, *card->view);
    std::weak_ptr<Resident> weakResident = weak_from_this();
    std::weak_ptr<Card> weakCard = card;
    card->view->onClick = [weakResident, weakCard, &windowing = windowing_] {
        auto resident = weakResident.lock();
        auto card = weakCard.lock();
        if (!resident || !card) return;
        const std::string& url = card->content.url;
        if (!url.empty() && isOpenableURL(url)) windowing.openURL(url);
        resident->dismiss(card, 0);
    };
    card->view->onSwipe = [weakResident, weakCard](double direction) {
        auto resident = weakResident.lock();
        auto card = weakCard.lock();
        if (resident && card) resident->dismiss(card, direction);
    };
    card->view->onDragOffset = [weakCard, &windowing = windowing_](double dx) {
        if (auto card = weakCard.lock()) dragFeedback(windowing, *card, dx);
    };
    card->panel->setAlpha(0);
    cards_.insert(cards_.begin(), card);

    // The oldest cards beyond the most that may show are sent away.
    size_t active = 0;
    std::vector<std::shared_ptr<Card>> overflow;
    for (const auto& shown : cards_) {
        if (shown->leaving) continue;
        if (++active > maxCards) overflow.push_back(shown);
    }
    for (const auto& old : overflow) dismiss(old, 0);
    layout();
}

void Resident::dismiss(const std::shared_ptr<Card>& card, double direction) {
    if (card->leaving) return;
    card->leaving = true;
    PanelAnimation change{card->panel.get(), std::nullopt, 0.0};
    if (direction != 0) change.frame = card->panel->frame().offsetBy(direction * slideDistance, 0);
    std::weak_ptr<Resident> weak = weak_from_this();
    windowing_.animate(direction == 0 ? closeDuration : slideDuration, {change}, [weak, card] {
        card->panel->orderOut();
        card->panel->close();
        auto resident = weak.lock();
        if (!resident) return;
        std::erase(resident->cards_, card);
        resident->layout();
    });
}

void Resident::layout() {
    std::vector<Card*> active;
    for (const auto& card : cards_) {
        if (!card->leaving) active.push_back(card.get());
    }
    if (active.empty()) {
        scheduleIdleExit();
        return;
    }
    std::optional<Screen> screen;
    Point pointer = windowing_.pointerLocation();
    for (const Screen& candidate : windowing_.screens()) {
        if (candidate.frame.contains(pointer)) {
            screen = candidate;
            break;
        }
    }
    if (!screen) screen = windowing_.mainScreen();
    if (!screen) return;
    const Rect visible = screen->visibleFrame;

    double top = visible.maxY() - topMargin;
    for (Card* card : active) {
        double height = card->view->fittingHeight();
        Rect frame{visible.midX() - CardView::width / 2, top - height, CardView::width, height};
        card->restingFrame = frame;
        top -= height + gap;
        Panel& panel = *card->panel;
        if (panel.alpha() == 0 && !panel.isVisible()) {
            // A card never shown rises into place while it fades in.
            panel.setFrame(frame.offsetBy(0, -riseDistance), false);
        }
        panel.orderFrontRegardless();
        windowing_.animate(placeDuration, {{&panel, frame, 1.0}}, nullptr);
    }
}

void Resident::scheduleIdleExit() {
    if (idleTimer_) idleTimer_->invalidate();
    std::weak_ptr<Resident> weak = weak_from_this();
    idleTimer_ = windowing_.scheduleTimer(idleExitDelay, [weak] {
        if (auto resident = weak.lock()) resident->idleTimerFired();
    });
}

void Resident::idleTimerFired() {
    // Cards still leaving count as present; the layout after their removal arms a new timer.
    if (!cards_.empty()) return;
    if (unhandledMessages_ > 0) {
        // A message was acknowledged but is still queued: its sender was told it will be shown.
        scheduleIdleExit();
        return;
    }
    if (port_) port_->invalidate();
    windowing_.exitApplication(0);
}

}  // namespace pelko::notifier

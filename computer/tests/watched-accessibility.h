// An accessibility seam that passes every call on to another one, remembers which attributes
// were read, and can make each round trip take time on a virtual clock (a slow app).
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "clock.h"
#include "platform/accessibility.h"

namespace pelko::computer::testing {

class WatchedAccessibility final : public Accessibility {
  public:
    explicit WatchedAccessibility(Accessibility& inner, VirtualClock* clock = nullptr,
                                  Duration perRoundTrip = {})
        : inner_(inner), clock_(clock), perRoundTrip_(perRoundTrip) {}

    /// Every attribute read, in order, with the element it was read from.
    std::vector<std::pair<Element, std::string>> reads;

    /// Whether `name` was read from an element equal to `element`.
    bool wasRead(const Element& element, const std::string& name) {
        for (const auto& [from, attribute] : reads) {
            if (attribute == name && inner_.isEqual(from, element)) return true;
        }
        return false;
    }

    bool isTrusted() override { return inner_.isTrusted(); }
    bool isTrustedWithPrompt() override { return inner_.isTrustedWithPrompt(); }
    Element applicationElement(pid_t pid) override { return inner_.applicationElement(pid); }
    Element systemWideElement() override { return inner_.systemWideElement(); }
    AttributeRead copyAttribute(const Element& element, const std::string& name) override {
        roundTrip();
        reads.emplace_back(element, name);
        return inner_.copyAttribute(element, name);
    }
    std::vector<AttributeRead> copyAttributes(const Element& element,
                                              const std::vector<std::string>& names) override {
        roundTrip();
        for (const auto& name : names) reads.emplace_back(element, name);
        return inner_.copyAttributes(element, names);
    }
    std::optional<bool> isSettable(const Element& element, const std::string& name) override {
        return inner_.isSettable(element, name);
    }
    int setAttribute(const Element& element, const std::string& name, const Value& value) override {
        return inner_.setAttribute(element, name, value);
    }
    std::optional<std::vector<std::string>> actionNames(const Element& element) override {
        return inner_.actionNames(element);
    }
    int performAction(const Element& element, const std::string& action) override {
        return inner_.performAction(element, action);
    }
    bool isEqual(const Element& a, const Element& b) override { return inner_.isEqual(a, b); }
    std::optional<pid_t> processId(const Element& element) override {
        return inner_.processId(element);
    }
    int setMessagingTimeout(const Element& element, double seconds) override {
        return inner_.setMessagingTimeout(element, seconds);
    }

  private:
    void roundTrip() {
        if (clock_ && perRoundTrip_ > Duration::zero()) clock_->advance(perRoundTrip_);
    }

    Accessibility& inner_;
    VirtualClock* clock_;
    Duration perRoundTrip_;
};

}  // namespace pelko::computer::testing

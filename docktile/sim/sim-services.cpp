#include "sim/sim-services.h"

namespace pelko::docktile {

std::size_t SimMainQueue::runPending() {
    std::size_t ran = 0;
    while (!tasks_.empty()) {
        auto task = std::move(tasks_.front());
        tasks_.pop_front();
        task();
        ++ran;
    }
    return ran;
}

void SimPreferences::hostWrites(const std::string& domain, const std::string& key,
                                std::optional<PropertyValue> value) {
    if (value)
        stored_[domain][key] = std::move(*value);
    else
        stored_[domain].erase(key);
}

void SimPreferences::synchronize(const std::string& domain) {
    ++synchronizations_;
    seen_[domain] = stored_[domain];
}

std::optional<PropertyValue> SimPreferences::value(const std::string& domain,
                                                   const std::string& key) {
    ++reads_;
    // A domain never looked at before is read as it is now.
    if (!seen_.contains(domain)) seen_[domain] = stored_[domain];
    const auto& values = seen_[domain];
    auto entry = values.find(key);
    if (entry == values.end()) return std::nullopt;
    return entry->second;
}

void SimNotificationCenter::addObserver(ObserverId observer, const std::string& name,
                                        std::function<void(const Notification&)> handler,
                                        SuspensionBehavior suspension) {
    (*entries_)[nextId_++] = Entry{{observer, name, suspension}, std::move(handler)};
}

void SimNotificationCenter::removeObserver(ObserverId observer) {
    std::erase_if(*entries_, [&](const auto& entry) {
        return entry.second.registration.observer == observer;
    });
}

bool SimNotificationCenter::post(const Notification& notification, bool) {
    for (const auto& [id, entry] : *entries_) {
        if (entry.registration.name != notification.name) continue;
        std::weak_ptr<Entries> weak = entries_;
        mainQueue_.async([weak, id, notification, deliveries = deliveries_] {
            auto entries = weak.lock();
            if (!entries) return;
            auto found = entries->find(id);
            if (found == entries->end()) return;
            ++*deliveries;
            // A copy: the handler may remove its own registration.
            auto handler = found->second.handler;
            handler(notification);
        });
    }
    return true;
}

std::vector<SimNotificationCenter::Registration> SimNotificationCenter::registrations() const {
    std::vector<Registration> result;
    for (const auto& [id, entry] : *entries_) result.push_back(entry.registration);
    return result;
}

std::unique_ptr<SimServices> makeSimServices() {
    return std::make_unique<SimServices>();
}

}  // namespace pelko::docktile

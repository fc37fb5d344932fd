// The simulated platform: preferences written by a pretend host process, a distributed
// notification centre inside this process, a recording tile and a main queue that runs when
// told. Tests drive the plug-in through it without threads or files.
#pragma once

#include <cstddef>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/dock-tile-plugin.h"

namespace pelko::docktile {

/// A main queue that holds its tasks until `runPending`.
class SimMainQueue final : public MainQueue {
  public:
    void async(std::function<void()> task) override { tasks_.push_back(std::move(task)); }
    /// Runs the queued tasks, and those they queue, in order; returns how many ran.
    std::size_t runPending();
    std::size_t pending() const { return tasks_.size(); }

  private:
    std::deque<std::function<void()>> tasks_;
};

/// Preferences shared with a pretend host process. What the host writes becomes visible to
/// this process only when it synchronises the domain, as with preferences cached per process.
class SimPreferences final : public PreferencesDomains {
  public:
    /// The host stores `value` under `key` in `domain` (nothing removes the key).
    void hostWrites(const std::string& domain, const std::string& key,
                    std::optional<PropertyValue> value);
    void synchronize(const std::string& domain) override;
    std::optional<PropertyValue> value(const std::string& domain, const std::string& key) override;
    /// How many times `value` was asked, over all domains.
    int reads() const { return reads_; }
    int synchronizations() const { return synchronizations_; }

  private:
    std::map<std::string, PropertyDictionary> stored_;
    std::map<std::string, PropertyDictionary> seen_;
    int reads_ = 0;
    int synchronizations_ = 0;
};

/// A notification centre within the process. Posting queues one delivery per matching
/// registration on the main queue; a registration removed before its delivery runs gets
/// nothing.
class SimNotificationCenter final : public DistributedNotificationCenter {
  public:
    struct Registration {
        ObserverId observer;
        std::string name;
        SuspensionBehavior suspension;
    };

    explicit SimNotificationCenter(MainQueue& mainQueue) : mainQueue_(mainQueue) {}
    void addObserver(ObserverId observer, const std::string& name,
                     std::function<void(const Notification&)> handler,
                     SuspensionBehavior suspension) override;
    void removeObserver(ObserverId observer) override;
    bool post(const Notification& notification, bool deliverImmediately) override;

    /// The registrations in force, oldest first.
    std::vector<Registration> registrations() const;
    /// How many handlers have been called.
    int deliveries() const { return *deliveries_; }

  private:
    struct Entry {
        Registration registration;
        std::function<void(const Notification&)> handler;
    };
    using Entries = std::map<uint64_t, Entry>;
    MainQueue& mainQueue_;
    std::shared_ptr<Entries> entries_ = std::make_shared<Entries>();
    std::shared_ptr<int> deliveries_ = std::make_shared<int>(0);
    uint64_t nextId_ = 1;
};

/// A tile that records what it was asked to do.
class SimDockTile final : public DockTile {
  public:
    explicit SimDockTile(Size size) : size_(size) {}
    Size size() const override { return size_; }
    void setContentView(std::optional<ImageView> view) override { contentView_ = std::move(view); }
    void display() override { displayed_.push_back(contentView_); }

    const std::optional<ImageView>& contentView() const { return contentView_; }
    /// The content view at each `display`, in order.
    const std::vector<std::optional<ImageView>>& displayed() const { return displayed_; }

  private:
    Size size_;
    std::optional<ImageView> contentView_;
    std::vector<std::optional<ImageView>> displayed_;
};

/// The simulated services, owned together.
struct SimServices {
    SimPreferences preferences;
    SimMainQueue mainQueue;
    SimNotificationCenter notifications{mainQueue};

    DockTileServices services() { return {preferences, notifications, mainQueue}; }
};

/// The simulated platform's composition: fresh services with empty preferences.
std::unique_ptr<SimServices> makeSimServices();

}  // namespace pelko::docktile

#include "plugin.h"

namespace pelko::docktile {

std::shared_ptr<PelkoDockTilePlugIn> PelkoDockTilePlugIn::create(Bundle pluginBundle,
                                                                 const DockTileServices& services) {
    return std::shared_ptr<PelkoDockTilePlugIn>(
        new PelkoDockTilePlugIn(std::move(pluginBundle), services));
}

PelkoDockTilePlugIn::~PelkoDockTilePlugIn() {
    services_.notifications.removeObserver(this);
}

void PelkoDockTilePlugIn::setDockTile(std::shared_ptr<DockTile> tile) {
    services_.notifications.removeObserver(this);
    dockTile_ = std::move(tile);
    if (!dockTile_) return;
    auto bundleId = owningAppBundleId();
    // Without the host's identifier the tile keeps the application's standard icon.
    if (!bundleId) return;
    appBundleId_ = *bundleId;
    show(storedChoice(*bundleId));
    std::weak_ptr<PelkoDockTilePlugIn> weak = weak_from_this();
    services_.notifications.addObserver(
        this, *bundleId + changeNotificationSuffix,
        [weak](const Notification& notification) {
            if (auto self = weak.lock()) self->appIconChanged(notification);
        },
        SuspensionBehavior::deliverImmediately);
}

std::optional<std::string> PelkoDockTilePlugIn::owningAppBundleId() const {
    // plug-in bundle → plug-ins folder → contents folder → application bundle
    std::filesystem::path url = pluginBundle_.url();
    for (int level = 0; level < 3; ++level) url = deletingLastPathComponent(url);
    auto app = Bundle::open(url);
    if (!app) return std::nullopt;
    return app->bundleIdentifier();
}

std::string PelkoDockTilePlugIn::storedChoice(const std::string& bundleId) const {
    // The host writes from its own process: synchronise so that its latest value is seen.
    services_.preferences.synchronize(bundleId);
    auto value = services_.preferences.value(bundleId, appIconKey);
    if (value && value->isString()) return value->text;
    return defaultChoice;
}

void PelkoDockTilePlugIn::show(const std::string& choice) {
    std::optional<Image> image;
    if (choice == personalChoice) {
        if (auto file = pluginBundle_.imageResource(personalIconResource)) image = Image{*file};
    }
    std::weak_ptr<PelkoDockTilePlugIn> weak = weak_from_this();
    services_.mainQueue.async([weak, image = std::move(image)] {
        auto self = weak.lock();
        if (!self || !self->dockTile_) return;
        DockTile& tile = *self->dockTile_;
        if (image) {
            Size size = tile.size();
            tile.setContentView(ImageView{
                {0, 0, size.width, size.height}, ImageScaling::proportionallyUpOrDown, *image});
        } else {
            // Without a content view the Dock draws the application's standard icon.
            tile.setContentView(std::nullopt);
        }
        tile.display();
    });
}

void PelkoDockTilePlugIn::appIconChanged(const Notification& notification) {
    if (!appBundleId_) return;
    auto icon = notification.userInfo.find(iconKey);
    if (icon != notification.userInfo.end() && icon->second.isString()) {
        show(icon->second.text);
        return;
    }
    show(storedChoice(*appBundleId_));
}

}  // namespace pelko::docktile

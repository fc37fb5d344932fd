// The plug-in on the simulated platform: what it shows for each stored choice, how it follows
// the host's change notification, and the tile's lifecycle (withdrawal, a second tile, a host
// without identifier, a plug-in that has gone while its work was queued).
#include <gtest/gtest.h>

#include "child-process.h"
#include "plugin.h"
#include "sim/sim-services.h"
#include "test-support.h"

namespace pelko::docktile {
namespace {

using pelko::testing::ScopedTempDir;

constexpr const char* hostId = "test.host";
const std::string changeName = std::string(hostId) + ".pelkoAppIconChanged";

class PlugInTest : public ::testing::Test {
  protected:
    void load(const std::optional<std::string>& bundleId = hostId, bool withImage = true) {
        layout = testing::makeHostLayout(folder.path(), bundleId, withImage);
        auto bundle = Bundle::open(layout.plugIn);
        ASSERT_TRUE(bundle);
        plugIn = PelkoDockTilePlugIn::create(*bundle, sim->services());
    }
    void hostChooses(const char* choice) {
        sim->preferences.hostWrites(hostId, appIconKey, PropertyValue::string(choice));
    }
    void post(PropertyDictionary userInfo = {}) {
        sim->notifications.post({changeName, std::nullopt, std::move(userInfo)}, true);
    }
    ImageView personalView(Size size) const {
        return {{0, 0, size.width, size.height},
                ImageScaling::proportionallyUpOrDown,
                Image{layout.personalImage}};
    }
    using Displays = std::vector<std::optional<ImageView>>;

    ScopedTempDir folder;
    testing::HostLayout layout;
    std::unique_ptr<SimServices> sim = makeSimServices();
    std::shared_ptr<SimDockTile> tile = std::make_shared<SimDockTile>(Size{128, 128});
    std::shared_ptr<PelkoDockTilePlugIn> plugIn;
};

TEST_F(PlugInTest, KeyMissingShowsTheStandardIconOnTheMainQueue) {
    load();
    plugIn->setDockTile(tile);
    EXPECT_EQ(plugIn->appBundleId(), hostId);
    // The tile changes only when the main queue runs.
    EXPECT_TRUE(tile->displayed().empty());
    EXPECT_EQ(sim->mainQueue.runPending(), 1u);
    EXPECT_EQ(tile->displayed(), Displays{std::nullopt});

    auto registrations = sim->notifications.registrations();
    ASSERT_EQ(registrations.size(), 1u);
    EXPECT_EQ(registrations[0].observer, plugIn.get());
    EXPECT_EQ(registrations[0].name, "test.host.pelkoAppIconChanged");
    EXPECT_EQ(registrations[0].suspension, SuspensionBehavior::deliverImmediately);
}

TEST_F(PlugInTest, PersonalFillsTheTileWithTheImageScaledToFit) {
    tile = std::make_shared<SimDockTile>(Size{160, 120});
    hostChooses("personal");
    load();
    plugIn->setDockTile(tile);
    sim->mainQueue.runPending();
    EXPECT_EQ(tile->displayed(), Displays{personalView({160, 120})});
    EXPECT_EQ(tile->contentView(), personalView({160, 120}));
}

TEST_F(PlugInTest, AnyOtherStoredValueShowsTheStandardIcon) {
    load();
    for (const auto& value :
         {PropertyValue::string("pelko"), PropertyValue::string("Personal"),
          PropertyValue::string(""), PropertyValue::number(1), PropertyValue::flag(true),
          PropertyValue::of(PropertyValue::Kind::array)}) {
        sim->preferences.hostWrites(hostId, appIconKey, value);
        EXPECT_EQ(plugIn->storedChoice(hostId), value.isString() ? value.text : "pelko");
    }
    sim->preferences.hostWrites(hostId, appIconKey, std::nullopt);
    EXPECT_EQ(plugIn->storedChoice(hostId), "pelko");

    sim->preferences.hostWrites(hostId, appIconKey, PropertyValue::number(1));
    plugIn->setDockTile(tile);
    sim->mainQueue.runPending();
    EXPECT_EQ(tile->displayed(), Displays{std::nullopt});
}

TEST_F(PlugInTest, PersonalWithoutTheImageResourceShowsTheStandardIcon) {
    hostChooses("personal");
    load(hostId, /*withImage=*/false);
    plugIn->setDockTile(tile);
    sim->mainQueue.runPending();
    EXPECT_EQ(tile->displayed(), Displays{std::nullopt});
}

TEST_F(PlugInTest, NotificationWithIconChangesTheTileWithoutReadingPreferences) {
    load();
    plugIn->setDockTile(tile);
    sim->mainQueue.runPending();
    int reads = sim->preferences.reads();

    post({{"icon", PropertyValue::string("personal")}});
    sim->mainQueue.runPending();
    EXPECT_EQ(sim->preferences.reads(), reads);
    EXPECT_EQ(tile->displayed(), (Displays{std::nullopt, personalView({128, 128})}));

    post({{"icon", PropertyValue::string("pelko")}});
    sim->mainQueue.runPending();
    EXPECT_EQ(tile->displayed().back(), std::nullopt);
    EXPECT_EQ(sim->preferences.reads(), reads);
}

TEST_F(PlugInTest, NotificationWithoutIconReadsWhatTheHostWroteSinceTheLastLook) {
    hostChooses("personal");
    load();
    plugIn->setDockTile(tile);
    sim->mainQueue.runPending();

    // Seen only after synchronising: the plug-in must synchronise on every read.
    hostChooses("pelko");
    post();
    sim->mainQueue.runPending();
    hostChooses("personal");
    post();
    sim->mainQueue.runPending();
    EXPECT_EQ(tile->displayed(),
              (Displays{personalView({128, 128}), std::nullopt, personalView({128, 128})}));
}

TEST_F(PlugInTest, NonStringIconFallsBackToTheStoredChoice) {
    load();
    plugIn->setDockTile(tile);
    sim->mainQueue.runPending();
    hostChooses("personal");
    for (const auto& icon : {PropertyValue::number(1), PropertyValue::flag(true),
                             PropertyValue::of(PropertyValue::Kind::dictionary)}) {
        post({{"icon", icon}});
        sim->mainQueue.runPending();
        EXPECT_EQ(tile->displayed().back(), personalView({128, 128}));
    }
    // Other keys are not the choice.
    hostChooses("pelko");
    post({{"choice", PropertyValue::string("personal")}});
    sim->mainQueue.runPending();
    EXPECT_EQ(tile->displayed().back(), std::nullopt);
}

TEST_F(PlugInTest, WithdrawalStopsObservationAndDropsQueuedChanges) {
    load();
    plugIn->setDockTile(tile);
    sim->mainQueue.runPending();

    post({{"icon", PropertyValue::string("personal")}});  // queued, not yet delivered
    plugIn->setDockTile(nullptr);
    EXPECT_TRUE(sim->notifications.registrations().empty());
    EXPECT_EQ(plugIn->dockTile(), nullptr);
    post({{"icon", PropertyValue::string("personal")}});
    sim->mainQueue.runPending();
    EXPECT_EQ(sim->notifications.deliveries(), 0);
    EXPECT_EQ(tile->displayed(), Displays{std::nullopt});

    // A change shown just before the withdrawal never reaches the released tile.
    plugIn->setDockTile(tile);
    plugIn->show("personal");
    plugIn->setDockTile(nullptr);
    sim->mainQueue.runPending();
    EXPECT_EQ(tile->displayed(), Displays{std::nullopt});
}

TEST_F(PlugInTest, SettingATileTwiceRegistersOnceAndDrawsOnTheNewTile) {
    load();
    auto second = std::make_shared<SimDockTile>(Size{64, 64});
    plugIn->setDockTile(tile);
    plugIn->setDockTile(second);
    EXPECT_EQ(sim->notifications.registrations().size(), 1u);

    post({{"icon", PropertyValue::string("personal")}});
    sim->mainQueue.runPending();
    EXPECT_EQ(sim->notifications.deliveries(), 1);
    // Both stored-choice changes were queued before they ran: both reach the current tile.
    EXPECT_TRUE(tile->displayed().empty());
    EXPECT_EQ(second->displayed(), (Displays{std::nullopt, std::nullopt, personalView({64, 64})}));
}

TEST_F(PlugInTest, HostWithoutIdentifierLeavesTheStandardIconAndRegistersNothing) {
    load(std::nullopt);
    hostChooses("personal");
    EXPECT_EQ(plugIn->owningAppBundleId(), std::nullopt);
    plugIn->setDockTile(tile);
    EXPECT_EQ(plugIn->dockTile(), tile);
    EXPECT_EQ(plugIn->appBundleId(), std::nullopt);
    EXPECT_TRUE(sim->notifications.registrations().empty());
    // A notification that reaches it anyway changes nothing.
    plugIn->appIconChanged(
        {changeName, std::nullopt, {{"icon", PropertyValue::string("personal")}}});
    EXPECT_EQ(sim->mainQueue.runPending(), 0u);
    EXPECT_TRUE(tile->displayed().empty());
    EXPECT_EQ(sim->preferences.reads(), 0);
}

TEST_F(PlugInTest, PlugInOutsideAnApplicationBundleRegistersNothing) {
    auto plugInFolder = folder / "Loose.docktileplugin";
    testing::makeBundle(plugInFolder, {});
    auto bundle = Bundle::open(plugInFolder);
    ASSERT_TRUE(bundle);
    plugIn = PelkoDockTilePlugIn::create(*bundle, sim->services());
    EXPECT_EQ(plugIn->owningAppBundleId(), std::nullopt);
    plugIn->setDockTile(tile);
    EXPECT_TRUE(sim->notifications.registrations().empty());
    EXPECT_EQ(sim->mainQueue.pending(), 0u);
}

TEST_F(PlugInTest, OwningApplicationIsThreeFoldersUp) {
    load();
    EXPECT_EQ(plugIn->owningAppBundleId(), hostId);
    // The folder two up is a bundle with an identifier of its own: it is not the host.
    testing::makeBundle(layout.app / "Contents",
                        {{"CFBundleIdentifier", PropertyValue::string("wrong.level")}});
    EXPECT_EQ(plugIn->owningAppBundleId(), hostId);
}

TEST_F(PlugInTest, PlugInGoneBeforeItsQueuedWorkRunsChangesNothing) {
    load();
    plugIn->setDockTile(tile);
    plugIn.reset();
    EXPECT_TRUE(sim->notifications.registrations().empty());
    EXPECT_EQ(sim->mainQueue.runPending(), 1u);
    EXPECT_TRUE(tile->displayed().empty());
}

}  // namespace
}  // namespace pelko::docktile

// The distributed notification centre over a real session bus that each test starts for
// itself: delivery on the main queue, exact names, user-info values on the wire, removal, and
// the plug-in following a change posted from another connection.
#include <gtest/gtest.h>

#include "linux/dbus-notification-center.h"
#include "plugin.h"
#include "sim/sim-services.h"
#include "test-support.h"

namespace pelko::docktile {
namespace {

using Kind = PropertyValue::Kind;

class DBusTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_FALSE(bus.address().empty()) << "dbus-daemon did not start"; }

    testing::PrivateBus bus;
    testing::ManualQueue receiverQueue;
    testing::ManualQueue senderQueue;
    DBusNotificationCenter receiver{receiverQueue, bus.address()};
    DBusNotificationCenter sender{senderQueue, bus.address()};
    std::vector<Notification> received;
    int observer = 0;

    void observe(const std::string& name) {
        receiver.addObserver(
            &observer, name, [this](const Notification& n) { received.push_back(n); },
            SuspensionBehavior::deliverImmediately);
    }
};

TEST_F(DBusTest, PostedNotificationReachesTheObserverOnTheMainQueue) {
    ASSERT_TRUE(receiver.connected()) << receiver.connectError();
    observe("test.host.pelkoAppIconChanged");
    ASSERT_TRUE(sender.post({"test.host.pelkoAppIconChanged",
                             std::nullopt,
                             {{"icon", PropertyValue::string("personal")}}},
                            true));
    EXPECT_TRUE(received.empty());  // only the main queue runs handlers
    ASSERT_TRUE(receiverQueue.runNext());
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(received[0].name, "test.host.pelkoAppIconChanged");
    EXPECT_EQ(received[0].object, std::nullopt);
    EXPECT_EQ(received[0].userInfo,
              (PropertyDictionary{{"icon", PropertyValue::string("personal")}}));
}

TEST_F(DBusTest, NamesMatchExactlyWhateverCharactersTheyHold) {
    observe("it's \"quoted\",arg0='x'.pelkoAppIconChanged");
    for (const char* name : {"test.host.pelkoAppIconChanged", "it's",
                             "it's \"quoted\",arg0='x'.pelkoAppIconChanged", "IT'S"}) {
        ASSERT_TRUE(sender.post({name, std::nullopt, {}}, true)) << name;
    }
    receiverQueue.runUntilQuiet();
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(received[0].name, "it's \"quoted\",arg0='x'.pelkoAppIconChanged");
}

TEST_F(DBusTest, UserInfoValuesKeepTheirKinds) {
    observe("values");
    PropertyDictionary userInfo{
        {"icon", PropertyValue::number(7)},
        {"text", PropertyValue::string("Pelko → Dock · é")},
        {"fraction", PropertyValue::fraction(-2.5)},
        {"flag", PropertyValue::flag(true)},
        {"when", PropertyValue::of(Kind::date)},
        {"bytes", PropertyValue::of(Kind::data)},
        {"list", PropertyValue::of(Kind::array)},
        {"nested", PropertyValue::of(Kind::dictionary)},
    };
    ASSERT_TRUE(sender.post({"values", "sender.app", userInfo}, true));
    ASSERT_TRUE(receiverQueue.runNext());
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(received[0].object, "sender.app");
    EXPECT_EQ(received[0].userInfo, userInfo);
}

TEST_F(DBusTest, RemovalStopsDeliveryEvenOfWhatIsAlreadyQueued) {
    observe("test.host.pelkoAppIconChanged");
    int other = 0;
    int otherCalls = 0;
    receiver.addObserver(
        &other, "test.host.pelkoAppIconChanged", [&](const Notification&) { ++otherCalls; },
        SuspensionBehavior::deliverImmediately);
    ASSERT_TRUE(sender.post({"test.host.pelkoAppIconChanged", std::nullopt, {}}, true));
    // Wait until the delivery is on the main queue, then remove before it runs.
    ASSERT_TRUE(receiverQueue.runNext());
    ASSERT_EQ(received.size(), 1u);
    ASSERT_TRUE(sender.post({"test.host.pelkoAppIconChanged", std::nullopt, {}}, true));
    ASSERT_TRUE(receiverQueue.waitForTask());
    receiver.removeObserver(&observer);
    receiverQueue.runUntilQuiet();
    ASSERT_TRUE(sender.post({"test.host.pelkoAppIconChanged", std::nullopt, {}}, true));
    receiverQueue.runUntilQuiet();
    EXPECT_EQ(received.size(), 1u);
    EXPECT_EQ(otherCalls, 3);  // the other observer keeps its registration
}

TEST_F(DBusTest, TextThatIsNotUTF8IsNotPosted) {
    EXPECT_FALSE(sender.post({"bad\xff", std::nullopt, {}}, true));
    EXPECT_FALSE(sender.post({"name", "bad\xc3", {}}, true));
    EXPECT_FALSE(
        sender.post({"name", std::nullopt, {{"icon", PropertyValue::string("\xff")}}}, true));
    EXPECT_FALSE(sender.post({"name", std::nullopt, {{"\xff", PropertyValue::string("x")}}}, true));
    EXPECT_TRUE(sender.post({"name", std::nullopt, {}}, true));
}

TEST(DBusWithoutBus, AnUnreachableBusRegistersAndPostsNothing) {
    pelko::testing::ScopedTempDir folder;
    testing::ManualQueue queue;
    DBusNotificationCenter center(queue, "unix:path=" + (folder / "nobody").string());
    EXPECT_FALSE(center.connected());
    EXPECT_FALSE(center.connectError().empty());
    int observer = 0;
    center.addObserver(
        &observer, "name", [](const Notification&) {}, SuspensionBehavior::deliverImmediately);
    center.removeObserver(&observer);
    EXPECT_FALSE(center.post({"name", std::nullopt, {}}, true));
}

TEST_F(DBusTest, ThePlugInFollowsAChangePostedOnTheBus) {
    pelko::testing::ScopedTempDir folder;
    auto layout = testing::makeHostLayout(folder.path(), "test.host");
    SimPreferences preferences;
    preferences.hostWrites("test.host", appIconKey, PropertyValue::string("personal"));
    auto plugIn = PelkoDockTilePlugIn::create(*Bundle::open(layout.plugIn),
                                              {preferences, receiver, receiverQueue});
    auto tile = std::make_shared<SimDockTile>(Size{128, 128});
    plugIn->setDockTile(tile);
    ASSERT_TRUE(receiverQueue.runNext());
    ASSERT_EQ(tile->displayed().size(), 1u);
    EXPECT_TRUE(tile->displayed().back().has_value());

    // A number is not a choice: the stored one ("pelko" by now) is shown.
    preferences.hostWrites("test.host", appIconKey, PropertyValue::string("pelko"));
    ASSERT_TRUE(sender.post(
        {"test.host.pelkoAppIconChanged", std::nullopt, {{"icon", PropertyValue::number(1)}}},
        true));
    receiverQueue.runUntilQuiet();
    ASSERT_EQ(tile->displayed().size(), 2u);
    EXPECT_EQ(tile->displayed().back(), std::nullopt);

    plugIn->setDockTile(nullptr);
    ASSERT_TRUE(sender.post({"test.host.pelkoAppIconChanged",
                             std::nullopt,
                             {{"icon", PropertyValue::string("personal")}}},
                            true));
    receiverQueue.runUntilQuiet();
    EXPECT_EQ(tile->displayed().size(), 2u);
}

}  // namespace
}  // namespace pelko::docktile

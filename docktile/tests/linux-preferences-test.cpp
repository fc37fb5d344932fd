// Preferences as property-list files under the configuration folder: read anew on every
// synchronisation, never outside the folder, and written as the owning application would.
#include <gtest/gtest.h>

#include <cstdlib>

#include "child-process.h"
#include "linux/plist-preferences.h"
#include "plugin.h"
#include "property-list.h"
#include "sim/sim-services.h"
#include "test-support.h"

namespace pelko::docktile {
namespace {

namespace fs = std::filesystem;
using pelko::testing::ScopedTempDir;
using pelko::testing::writeFile;

TEST(PlistPreferences, ReadsTheFileAgainOnEverySynchronisation) {
    ScopedTempDir config;
    PlistPreferences preferences(config.path());
    EXPECT_EQ(preferences.value("test.host", appIconKey), std::nullopt);  // no file yet

    writeFile(config / "test.host.plist",
              xmlPropertyList({{appIconKey, PropertyValue::string("personal")}}));
    preferences.synchronize("test.host");
    EXPECT_EQ(preferences.value("test.host", appIconKey), PropertyValue::string("personal"));

    // The host may write either form; without synchronising the last reading stands.
    writeFile(config / "test.host.plist",
              binaryPropertyList({{appIconKey, PropertyValue::string("pelko")}}));
    EXPECT_EQ(preferences.value("test.host", appIconKey), PropertyValue::string("personal"));
    preferences.synchronize("test.host");
    EXPECT_EQ(preferences.value("test.host", appIconKey), PropertyValue::string("pelko"));

    writeFile(config / "test.host.plist", "<plist><dict><key>PelkoAppIcon</key>");
    preferences.synchronize("test.host");
    EXPECT_EQ(preferences.value("test.host", appIconKey), std::nullopt);
    fs::remove(config / "test.host.plist");
    preferences.synchronize("test.host");
    EXPECT_EQ(preferences.value("test.host", appIconKey), std::nullopt);
}

TEST(PlistPreferences, DomainsNeverReachOutsideTheFolder) {
    ScopedTempDir root;
    fs::path config = root / "config";
    fs::create_directories(config);
    std::string stolen = xmlPropertyList({{appIconKey, PropertyValue::string("personal")}});
    writeFile(root / "outside.plist", stolen);
    writeFile(root / ".plist", stolen);
    PlistPreferences preferences(config);
    for (const char* domain : {"../outside", "..", "", "a/../../outside"}) {
        EXPECT_EQ(preferencesFile(config, domain), std::nullopt) << domain;
        preferences.synchronize(domain);
        EXPECT_EQ(preferences.value(domain, appIconKey), std::nullopt) << domain;
    }
    EXPECT_EQ(preferencesFile(config, "pelko.code"), config / "pelko.code.plist");
    // Without a configuration folder every domain is empty.
    PlistPreferences nowhere(std::nullopt);
    EXPECT_EQ(nowhere.value("outside", appIconKey), std::nullopt);
}

TEST(PlistPreferences, WritingKeepsTheOtherKeysAndReplacesWhatIsNoDictionary) {
    ScopedTempDir config;
    fs::path file = config / "new" / "folder" / "test.host.plist";
    ASSERT_TRUE(writePreference(file, appIconKey, PropertyValue::string("personal")));
    EXPECT_EQ(readPropertyListDictionary(file),
              (PropertyDictionary{{appIconKey, PropertyValue::string("personal")}}));

    writeFile(file,
              binaryPropertyList({{"windowFrame", PropertyValue::of(PropertyValue::Kind::array)},
                                  {"launches", PropertyValue::number(12)},
                                  {appIconKey, PropertyValue::string("personal")}}));
    ASSERT_TRUE(writePreference(file, appIconKey, PropertyValue::string("pelko")));
    EXPECT_EQ(readPropertyListDictionary(file),
              (PropertyDictionary{{"windowFrame", PropertyValue::of(PropertyValue::Kind::array)},
                                  {"launches", PropertyValue::number(12)},
                                  {appIconKey, PropertyValue::string("pelko")}}));

    writeFile(file, "garbage");
    ASSERT_TRUE(writePreference(file, appIconKey, PropertyValue::string("personal")));
    EXPECT_EQ(readPropertyListDictionary(file),
              (PropertyDictionary{{appIconKey, PropertyValue::string("personal")}}));
    // A file too large to read keeps its entries: it is not rewritten.
    std::string large = std::string(maxPropertyListBytes + 1, ' ');
    writeFile(file, large);
    EXPECT_FALSE(writePreference(file, appIconKey, PropertyValue::string("pelko")));
    EXPECT_EQ(fs::file_size(file), large.size());
    // No temporary file is left beside it.
    EXPECT_EQ(std::distance(fs::directory_iterator(file.parent_path()), fs::directory_iterator()),
              1);
}

TEST(PlistPreferences, ConfigurationFolderComesFromTheEnvironment) {
    ::setenv("HOME", "/home/someone", 1);
    ::setenv("XDG_CONFIG_HOME", "/elsewhere/config", 1);
    EXPECT_EQ(configHomeFromEnvironment(), fs::path("/elsewhere/config"));
    // A relative folder is not valid there and is ignored.
    ::setenv("XDG_CONFIG_HOME", "relative/config", 1);
    EXPECT_EQ(configHomeFromEnvironment(), fs::path("/home/someone/.config"));
    ::unsetenv("XDG_CONFIG_HOME");
    EXPECT_EQ(configHomeFromEnvironment(), fs::path("/home/someone/.config"));
    ::unsetenv("HOME");
    EXPECT_EQ(configHomeFromEnvironment(), std::nullopt);
}

TEST(PlistPreferences, ThePlugInFollowsTheFileTheHostWrites) {
    ScopedTempDir folder;
    fs::path config = folder / "config";
    auto layout = testing::makeHostLayout(folder.path(), "test.host");
    SimMainQueue queue;
    SimNotificationCenter notifications(queue);
    PlistPreferences preferences(config);
    auto plugIn = PelkoDockTilePlugIn::create(*Bundle::open(layout.plugIn),
                                              {preferences, notifications, queue});
    auto tile = std::make_shared<SimDockTile>(Size{128, 128});

    ASSERT_TRUE(
        writePreference(config / "test.host.plist", appIconKey, PropertyValue::string("personal")));
    plugIn->setDockTile(tile);
    queue.runPending();
    ASSERT_EQ(tile->displayed().size(), 1u);
    EXPECT_TRUE(tile->displayed()[0].has_value());

    ASSERT_TRUE(
        writePreference(config / "test.host.plist", appIconKey, PropertyValue::string("pelko")));
    notifications.post({"test.host.pelkoAppIconChanged", std::nullopt, {}}, true);
    queue.runPending();
    ASSERT_EQ(tile->displayed().size(), 2u);
    EXPECT_EQ(tile->displayed()[1], std::nullopt);
}

}  // namespace
}  // namespace pelko::docktile

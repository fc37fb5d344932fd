// Property lists read with libplist and bundles read through them: every kind of value in both
// forms, damaged and oversized input, and the bundle paths that must never leave the bundle.
#include <gtest/gtest.h>

#include "bundle.h"
#include "child-process.h"
#include "property-list.h"
#include "test-support.h"

namespace pelko::docktile {
namespace {

namespace fs = std::filesystem;
using Kind = PropertyValue::Kind;
using pelko::testing::ScopedTempDir;
using pelko::testing::writeFile;

const PropertyDictionary everyKind{
    {"text", PropertyValue::string("Pelko → Dock · é")},
    {"negative", PropertyValue::number(-42)},
    {"large", PropertyValue::number(int64_t{1} << 40)},
    {"fraction", PropertyValue::fraction(0.25)},
    {"yes", PropertyValue::flag(true)},
    {"no", PropertyValue::flag(false)},
    {"when", PropertyValue::of(Kind::date)},
    {"bytes", PropertyValue::of(Kind::data)},
    {"list", PropertyValue::of(Kind::array)},
    {"nested", PropertyValue::of(Kind::dictionary)},
};

TEST(PropertyList, EveryKindSurvivesBothForms) {
    EXPECT_EQ(parsePropertyListDictionary(xmlPropertyList(everyKind)), everyKind);
    std::string binary = binaryPropertyList(everyKind);
    ASSERT_EQ(binary.substr(0, 8), "bplist00");
    EXPECT_EQ(parsePropertyListDictionary(binary), everyKind);
}

TEST(PropertyList, AnythingButADictionaryReadsAsNothing) {
    const std::string array =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n"
        "<array><string>PelkoAppIcon</string></array>\n</plist>\n";
    std::string xml = xmlPropertyList(everyKind);
    std::string binary = binaryPropertyList(everyKind);
    for (const std::string& bytes : {
             array,
             std::string(),
             std::string("PelkoAppIcon = personal"),
             xml.substr(0, xml.size() / 2),         // cut in the middle of the XML
             binary.substr(0, binary.size() - 20),  // without the binary trailer
             std::string("bplist00") + std::string(40, '\xff'),
             std::string("\0\0\0\0", 4),
         }) {
        EXPECT_EQ(parsePropertyListDictionary(bytes), std::nullopt) << bytes.size() << " bytes";
    }
}

TEST(PropertyList, FilesLargerThanTheLimitAreNotRead) {
    ScopedTempDir folder;
    std::string xml = xmlPropertyList({{"PelkoAppIcon", PropertyValue::string("personal")}});
    // Padding after the closing tag keeps the list itself valid.
    std::string padded = xml + std::string(maxPropertyListBytes + 1 - xml.size(), ' ');
    writeFile(folder / "big.plist", padded);
    EXPECT_EQ(readPropertyListDictionary(folder / "big.plist"), std::nullopt);
    writeFile(folder / "small.plist", xml);
    EXPECT_EQ(readPropertyListDictionary(folder / "small.plist"),
              (PropertyDictionary{{"PelkoAppIcon", PropertyValue::string("personal")}}));
    EXPECT_EQ(readPropertyListDictionary(folder / "missing.plist"), std::nullopt);
}

TEST(Bundle, PathComponentsComeOffOneAtATime) {
    EXPECT_EQ(deletingLastPathComponent("/a/Host.app/Contents/PlugIns/P.docktileplugin"),
              "/a/Host.app/Contents/PlugIns");
    // A trailing separator does not make an empty last component.
    EXPECT_EQ(deletingLastPathComponent("/a/Host.app/Contents/"), "/a/Host.app");
    EXPECT_EQ(deletingLastPathComponent("/a"), "/");
    EXPECT_EQ(deletingLastPathComponent("/"), "/");
}

TEST(Bundle, OpensFoldersOnlyAndReadsItsInformationEachTime) {
    ScopedTempDir folder;
    EXPECT_EQ(Bundle::open(folder / "missing.app"), std::nullopt);
    writeFile(folder / "file.app", "not a folder");
    EXPECT_EQ(Bundle::open(folder / "file.app"), std::nullopt);

    fs::path app = folder / "Host.app";
    fs::create_directories(app);
    auto bundle = Bundle::open(app.string() + "/");
    ASSERT_TRUE(bundle);
    EXPECT_EQ(bundle->url(), app);
    EXPECT_EQ(bundle->bundleIdentifier(), std::nullopt);  // no Info.plist yet

    testing::makeBundle(app, {{"CFBundleIdentifier", PropertyValue::string("test.host")}});
    EXPECT_EQ(bundle->bundleIdentifier(), "test.host");
    testing::makeBundle(app, {{"CFBundleIdentifier", PropertyValue::number(7)}});
    EXPECT_EQ(bundle->bundleIdentifier(), std::nullopt);
    testing::makeBundle(app, {{"CFBundleIdentifier", PropertyValue::string("")}});
    EXPECT_EQ(bundle->bundleIdentifier(), std::nullopt);
}

TEST(Bundle, ExecutableAndResourcesStayInsideTheBundle) {
    ScopedTempDir folder;
    fs::path plugIn = folder / "P.docktileplugin";
    writeFile(folder / "secret.png", "outside");
    fs::create_directories(plugIn / "Contents" / "Resources" / "folder.png");
    testing::makeBundle(plugIn, {});
    auto bundle = Bundle::open(plugIn);
    ASSERT_TRUE(bundle);
    EXPECT_EQ(bundle->executableURL(), std::nullopt);
    for (const char* name : {"../../../secret", "a/b", "..", ""}) {
        testing::makeBundle(plugIn, {{"CFBundleExecutable", PropertyValue::string(name)}});
        EXPECT_EQ(bundle->executableURL(), std::nullopt) << name;
        EXPECT_EQ(bundle->imageResource(name), std::nullopt) << name;
    }
    testing::makeBundle(plugIn, {{"CFBundleExecutable", PropertyValue::string("Binary")}});
    EXPECT_EQ(bundle->executableURL(), plugIn / "Contents" / "MacOS" / "Binary");

    EXPECT_EQ(bundle->imageResource("folder"), std::nullopt);  // a folder is not an image
    EXPECT_EQ(bundle->imageResource("icon"), std::nullopt);
    testing::writeSolidPNG(plugIn / "Contents" / "Resources" / "icon.png", 2, 2, 0, 0, 0);
    EXPECT_EQ(bundle->imageResource("icon"), plugIn / "Contents" / "Resources" / "icon.png");
}

}  // namespace
}  // namespace pelko::docktile

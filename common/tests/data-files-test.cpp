// Settings that name data files by path or by the bare name of an installed one.
#include "data-files.h"

#include <gtest/gtest.h>

#include "child-process.h"

namespace pelko {
namespace {

TEST(DataFiles, PathsAndExistingFilesWinOverInstalledNames) {
    testing::ScopedTempDir installed;
    testing::writeFile(installed / "desktop.json", "{}");
    testing::ScopedTempDir here;
    const auto local = here / "mine.json";
    testing::writeFile(local, "{}");

    const struct {
        std::string value;
        std::filesystem::path expected;
    } cases[] = {
        {"desktop", installed / "desktop.json"},  // a bare name of an installed scene
        {local.string(), local},                  // a path, as given
        {"nowhere/desktop", "nowhere/desktop"},   // a path that does not exist stays itself
        {"missing", "missing"},                   // no such scene: the reader names it
        {"", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(dataFile(c.value, installed.path(), ".json"), c.expected) << c.value;

    // A file of that name in the current folder is taken before the installed one.
    const auto previous = std::filesystem::current_path();
    std::filesystem::current_path(here.path());
    testing::writeFile(here / "desktop", "{}");
    EXPECT_EQ(dataFile("desktop", installed.path(), ".json"), "desktop");
    std::filesystem::current_path(previous);
}

}  // namespace
}  // namespace pelko

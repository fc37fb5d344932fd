// Reading and listing files below an app's data directory: the walk, symbolic links, the
// owner check, escaping and the two limits.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <sstream>

#include "tool-run.h"

namespace pelko::packets::testing {
namespace {

namespace fs = std::filesystem;
using pelko::testing::writeFile;

class AppFiles : public ::testing::Test {
  protected:
    ToolRun read(const std::string& path) { return runTool({"--app-read", app(), "0", path}); }
    ToolRun list(const std::string& path) { return runTool({"--app-list", app(), "0", path}); }
    std::string app() const { return temp_.path().string(); }
    fs::path operator/(std::string_view name) const { return temp_ / name; }

  private:
    ScopedTempDir temp_;  // created by root, so owned by UID 0
};

std::set<std::string> linesOf(const std::string& text) {
    std::set<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.insert(line);
    return lines;
}

TEST_F(AppFiles, ReadCopiesBinaryContentExactly) {
    std::string content;
    for (int round = 0; round < 600; ++round)
        for (int byte = 0; byte < 256; ++byte)
            content.push_back(static_cast<char>((byte * 7 + round) & 0xff));
    fs::create_directories(*this / "a/b");
    writeFile(*this / "a/b/data.bin", content);
    ToolRun run = read("a/b/data.bin");
    EXPECT_EQ(run.status, exitedWith(0));
    EXPECT_EQ(run.out, content);
    EXPECT_EQ(run.err, "");
    // Empty components and "." are skipped.
    EXPECT_EQ(read("./a//b/./data.bin").out, content);
    EXPECT_EQ(read("a/b/data.bin").status, exitedWith(0));
}

TEST_F(AppFiles, PathsThatNameNothingOrLeaveTheDirectory) {
    fs::create_directories(*this / "a");
    writeFile(*this / "a/b", "b");
    writeFile(*this / "x", "x");
    for (const std::string& path : std::vector<std::string>{
             "../x", "a/../b", "a/..", "..", "/x", std::string(1001, 'a'), "", ".", "./", ".//."}) {
        ToolRun run = read(path);
        EXPECT_EQ(run.status, exitedWith(2)) << path;
        EXPECT_EQ(run.err, "") << path;
        EXPECT_EQ(run.out, "") << path;
    }
    // 1000 bytes is still a path: it is walked (and not found).
    std::string longest;
    while (longest.size() < 1000) longest += longest.size() + 10 <= 1000 ? "abcdefghi/" : "a";
    ToolRun run = read(longest);
    EXPECT_EQ(run.status, exitedWith(1));
    EXPECT_EQ(run.err, "app path (symlinks refused): No such file or directory\n");
}

TEST_F(AppFiles, SymbolicLinksAreNeverFollowed) {
    ScopedTempDir outside;
    writeFile(outside / "secret", "secret");
    fs::create_directories(*this / "real");
    writeFile(*this / "real/file", "inside");
    fs::create_directory_symlink(outside.path(), *this / "middle");
    fs::create_directory_symlink("real", *this / "relative");
    fs::create_symlink(outside / "secret", *this / "last");
    fs::create_symlink("real/file", *this / "lastInside");

    for (const char* path : {"middle/secret", "relative/file"}) {
        ToolRun run = read(path);
        EXPECT_EQ(run.status, exitedWith(1)) << path;
        // A directory opened without following links reports a link as not a directory.
        EXPECT_EQ(run.err, "app path (symlinks refused): Not a directory\n") << path;
        EXPECT_EQ(run.out, "");
    }
    for (const char* path : {"last", "lastInside"}) {
        ToolRun run = read(path);
        EXPECT_EQ(run.status, exitedWith(1)) << path;
        EXPECT_EQ(run.err, "app file: Too many levels of symbolic links\n") << path;
    }
    ToolRun listed = list("relative");
    EXPECT_EQ(listed.status, exitedWith(1));
    EXPECT_EQ(listed.err, "app path (symlinks refused): Not a directory\n");

    // The app directory itself must not be a symbolic link either.
    fs::create_directory_symlink(*this / "real", outside / "appLink");
    ToolRun viaLink = runTool({"--app-read", (outside / "appLink").string(), "0", "file"});
    EXPECT_EQ(viaLink.status, exitedWith(1));
    EXPECT_EQ(viaLink.err, "app directory: Not a directory\n");
}

TEST_F(AppFiles, WhatCannotBeWalkedOrRead) {
    writeFile(*this / "plain", "x");
    fs::create_directory(*this / "folder");
    ASSERT_EQ(mkfifo((*this / "pipe").c_str(), 0600), 0);

    ToolRun throughFile = read("plain/x");
    EXPECT_EQ(throughFile.err, "app path (symlinks refused): Not a directory\n");
    EXPECT_EQ(throughFile.status, exitedWith(1));
    EXPECT_EQ(read("missing/x").err, "app path (symlinks refused): No such file or directory\n");
    EXPECT_EQ(read("missing").err, "app file: No such file or directory\n");
    EXPECT_EQ(read("folder").err, "app file: Is a directory\n");
    // A named pipe is refused at once instead of waiting for a writer.
    ToolRun pipe = read("pipe");
    EXPECT_EQ(pipe.status, exitedWith(1));
    EXPECT_EQ(pipe.err, "app file: Invalid argument\n");

    ToolRun noDirectory = runTool({"--app-list", app() + "/nothing", "0", ""});
    EXPECT_EQ(noDirectory.status, exitedWith(1));
    EXPECT_EQ(noDirectory.err, "app directory: No such file or directory\n");
}

TEST_F(AppFiles, DirectoryOwnerMustMatch) {
    writeFile(*this / "file", "content");
    ToolRun other = runTool({"--app-read", app(), "10123", "file"});
    EXPECT_EQ(other.status, exitedWith(1));
    EXPECT_EQ(other.err, "App directory UID mismatch\n");
    EXPECT_EQ(other.out, "");

    ASSERT_EQ(chown(app().c_str(), 10123, 10123), 0);
    EXPECT_EQ(runTool({"--app-read", app(), "10123", "file"}).out, "content");
    // Trailing characters of the UID are ignored.
    EXPECT_EQ(runTool({"--app-read", app(), "10123u", "file"}).out, "content");
    EXPECT_EQ(runTool({"--app-list", app(), "0", ""}).err, "App directory UID mismatch\n");
}

TEST_F(AppFiles, ReadStopsAfter128MiB) {
    const off_t limit = 128 * 1024 * 1024;
    {
        int fd = open((*this / "exact").c_str(), O_WRONLY | O_CREAT, 0600);
        ASSERT_EQ(ftruncate(fd, limit), 0);
        close(fd);
        fd = open((*this / "over").c_str(), O_WRONLY | O_CREAT, 0600);
        ASSERT_EQ(ftruncate(fd, limit + 1), 0);
        close(fd);
    }
    ToolRun exact = read("exact");
    EXPECT_EQ(exact.status, exitedWith(0));
    EXPECT_EQ(exact.out.size(), static_cast<size_t>(limit));
    EXPECT_EQ(exact.err, "");

    ToolRun over = read("over");
    EXPECT_EQ(over.status, exitedWith(1));
    EXPECT_EQ(over.err, "App file limit\n");
    EXPECT_EQ(over.out.size(), static_cast<size_t>(limit));  // what came before stays written
}

TEST_F(AppFiles, ListingTypesSizesAndEscapes) {
    fs::create_directories(*this / "sub/inner");
    writeFile(*this / "sub/plain", "12345");
    writeFile(*this / "sub/tab\there", "");
    writeFile(*this / "sub/back\\slash", "");
    writeFile(*this / "sub/new\nline", "");
    writeFile(*this / "sub/del\x7f", "");
    writeFile(*this / "sub/caf\xc3\xa9", "");
    fs::create_symlink("plain", *this / "sub/link");
    ASSERT_EQ(mkfifo((*this / "sub/fifo").c_str(), 0600), 0);
    struct stat inner {};
    ASSERT_EQ(stat((*this / "sub/inner").c_str(), &inner), 0);

    ToolRun run = list("./sub/");
    EXPECT_EQ(run.status, exitedWith(0));
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(linesOf(run.out), (std::set<std::string>{
                                    "directory\t" + std::to_string(inner.st_size) + "\tinner",
                                    "file\t5\tplain",
                                    "file\t0\ttab\\x09here",
                                    "file\t0\tback\\x5cslash",
                                    "file\t0\tnew\\x0aline",
                                    "file\t0\tdel\\x7f",
                                    "file\t0\tcaf\xc3\xa9",
                                    "symlink\t5\tlink",
                                    "file\t0\tfifo",
                                }));
    EXPECT_EQ(std::count(run.out.begin(), run.out.end(), '\n'), 9);

    // A path that names no component lists the app directory itself.
    struct stat sub {};
    ASSERT_EQ(stat((*this / "sub").c_str(), &sub), 0);
    for (const char* path : {"", ".", "./", ".//."}) {
        ToolRun top = list(path);
        EXPECT_EQ(top.status, exitedWith(0)) << path;
        EXPECT_EQ(top.out, "directory\t" + std::to_string(sub.st_size) + "\tsub\n") << path;
    }
    EXPECT_EQ(list("sub/plain").err, "app path (symlinks refused): Not a directory\n");
    EXPECT_EQ(list("sub/..").status, exitedWith(2));
}

TEST_F(AppFiles, ListingThatCannotBeReadToTheEndFails) {
    // A directory that fails midway has not been listed: the host must not take the lines
    // for all of it.
    for (int index = 0; index < 5; ++index) writeFile(*this / std::to_string(index), "");
    ChildOptions options;
    options.environment = {{"LD_PRELOAD", shimPath()}, {"PELKO_SHIM_READDIR_FAILS_AFTER", "3"}};
    ChildProcess tool({toolPath(), "--app-list", app(), "0", ""}, options);
    tool.closeStdin();
    tool.readToEnd();
    EXPECT_EQ(tool.waitExit(), exitedWith(1));
}

TEST_F(AppFiles, ListingStopsAfter10000Entries) {
    // Hard links to one file: new inodes are slow to make on some disks.
    fs::create_directory(*this / "many");
    writeFile(*this / "target", "");
    for (int index = 0; index < 10000; ++index)
        ASSERT_EQ(
            link((*this / "target").c_str(), (*this / "many" / std::to_string(index)).c_str()), 0);
    ToolRun full = list("many");
    EXPECT_EQ(full.status, exitedWith(0));
    EXPECT_EQ(full.err, "");
    EXPECT_EQ(linesOf(full.out).size(), 10000u);

    writeFile(*this / "many/one-more", "");
    ToolRun over = list("many");
    EXPECT_EQ(over.status, exitedWith(1));
    EXPECT_EQ(over.err, "Directory entry limit\n");
    EXPECT_EQ(std::count(over.out.begin(), over.out.end(), '\n'), 10000);
}

}  // namespace
}  // namespace pelko::packets::testing

// AtomicWriter: what a writer leaves behind on each road out. The target
// changes only on commit; an abandoned or failed write leaves it as it was
// and no temporary file beside it.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "common/atomic_writer.hpp"
#include "common/errors.hpp"

namespace tamlor {
namespace {

namespace fs = std::filesystem;

class AtomicWriterTest : public ::testing::Test {
protected:
    void SetUp() override {
        char name[] = "/tmp/atomic-writer-XXXXXX";
        ASSERT_NE(::mkdtemp(name), nullptr);
        dir_ = name;
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string path(const std::string& name) const { return (dir_ / name).string(); }
    static std::string content(const std::string& p) {
        std::ifstream in(p, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    static void put(const std::string& p, const std::string& text) { std::ofstream(p, std::ios::binary) << text; }
    std::size_t entries() const { return static_cast<std::size_t>(std::distance(fs::directory_iterator(dir_), {})); }

    fs::path dir_;
};

TEST_F(AtomicWriterTest, TheTargetChangesOnlyOnCommit) {
    put(path("a"), "old");
    {
        AtomicWriter w(path("a"));
        w.write("new", 3);
        w.write(nullptr, 0);  // nothing, and no null pointer reaches the C library
        EXPECT_EQ(content(path("a")), "old");
        EXPECT_EQ(entries(), 2u);  // the target and the temporary file
        w.commit();
    }
    EXPECT_EQ(content(path("a")), "new");
    EXPECT_EQ(entries(), 1u);
}

TEST_F(AtomicWriterTest, AnAbandonedWriteLeavesNothing) {
    put(path("a"), "old");
    {
        AtomicWriter w(path("a"));
        w.write("partial", 7);
    }
    {
        AtomicWriter w(path("fresh"));
        w.write("x", 1);
    }
    EXPECT_EQ(content(path("a")), "old");
    EXPECT_FALSE(fs::exists(path("fresh")));
    EXPECT_EQ(entries(), 1u);
}

TEST_F(AtomicWriterTest, LinksAreFollowedAndDevicesWrittenInPlace) {
    put(path("target"), "old");
    fs::create_symlink("target", path("link"));
    AtomicWriter w(path("link"));
    EXPECT_FALSE(w.in_place());
    w.write("new", 3);
    w.commit();
    EXPECT_TRUE(fs::is_symlink(path("link")));
    EXPECT_EQ(content(path("target")), "new");

    AtomicWriter null_device("/dev/null");
    EXPECT_TRUE(null_device.in_place());
    null_device.write("x", 1);
    null_device.commit();

    AtomicWriter full("/dev/full");
    std::string block(1 << 16, 'x');
    EXPECT_THROW({
        full.write(block.data(), block.size());
        full.commit();
    }, FileError);
    struct stat st;
    ASSERT_EQ(::stat("/dev/full", &st), 0);
    EXPECT_TRUE(S_ISCHR(st.st_mode));
}

TEST_F(AtomicWriterTest, WhatCannotBeOpenedThrowsWithTheCallersPath) {
    try {
        AtomicWriter w(path("missing/a"));
        FAIL() << "opened a file in a missing folder";
    } catch (const FileError& e) {
        EXPECT_EQ(e.path, path("missing/a"));
        EXPECT_EQ(e.code, ENOENT);
    }
    EXPECT_THROW(AtomicWriter(""), FileError);
    EXPECT_EQ(entries(), 0u);
}

}  // namespace
}  // namespace tamlor

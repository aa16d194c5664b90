// AtomicWriter: what a writer leaves behind on each road out. The target
// changes only on commit; an abandoned or failed write leaves it as it was
// and no temporary file beside it. The same tests run on Windows, but for
// the promises that only POSIX systems can make (links, /dev/full, owners).
#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "audio/wav.hpp"
#include "common/atomic_writer.hpp"
#include "common/errors.hpp"

namespace tamlor {
namespace {

namespace fs = std::filesystem;

// The engine takes UTF-8 paths; std::filesystem is told so explicitly (a
// plain narrow string means the ANSI code page on Windows).
fs::path native(const std::string& utf8) { return fs::path(std::u8string(utf8.begin(), utf8.end())); }
std::string utf8(const fs::path& p) {
    const std::u8string text = p.u8string();
    return std::string(text.begin(), text.end());
}

class AtomicWriterTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::random_device random;
        dir_ = fs::temp_directory_path() / ("atomic-writer-" + std::to_string(random()));
        ASSERT_TRUE(fs::create_directory(dir_));
    }
    void TearDown() override {
        std::error_code ignored;
        for (const auto& entry : fs::directory_iterator(dir_, ignored)) {
            fs::permissions(entry.path(), fs::perms::owner_write, fs::perm_options::add, ignored);
        }
        fs::remove_all(dir_, ignored);
    }

    // With the system's own separators, so Windows paths are tried as
    // Windows programs give them.
    std::string path(const std::string& name) const { return utf8(dir_ / native(name)); }
    static std::string content(const std::string& p) {
        std::ifstream in(native(p), std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    static void put(const std::string& p, const std::string& text) { std::ofstream(native(p), std::ios::binary) << text; }
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

TEST_F(AtomicWriterTest, LinksAreFollowedAndKept) {
#ifdef _WIN32
    GTEST_SKIP() << "Windows links are not followed: making one needs a privilege, and replacing one leaves "
                    "the file it names as it was";
#else
    put(path("target"), "old");
    fs::create_symlink("target", path("link"));
    AtomicWriter w(path("link"));
    EXPECT_FALSE(w.in_place());
    w.write("new", 3);
    w.commit();
    EXPECT_TRUE(fs::is_symlink(path("link")));
    EXPECT_EQ(content(path("target")), "new");
#endif
}

TEST_F(AtomicWriterTest, DevicesAreWrittenInPlaceAndNeverRemoved) {
#ifdef _WIN32
    const std::string null_name = "NUL";
#else
    const std::string null_name = "/dev/null";
#endif
    AtomicWriter null_device(null_name);
    EXPECT_TRUE(null_device.in_place());
    null_device.write("x", 1);
    null_device.commit();
    EXPECT_EQ(entries(), 0u);

#ifndef _WIN32
    // A device that refuses every write (Windows has none to try).
    AtomicWriter full("/dev/full");
    std::string block(1 << 16, 'x');
    EXPECT_THROW({
        full.write(block.data(), block.size());
        full.commit();
    }, FileError);
    struct stat st;
    ASSERT_EQ(::stat("/dev/full", &st), 0);
    EXPECT_TRUE(S_ISCHR(st.st_mode));
#endif
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

// The last step, the rename, can fail too: here a folder took the target's
// place while the file was being written.
TEST_F(AtomicWriterTest, AFailedRenameLeavesNoTemporaryFile) {
    AtomicWriter w(path("a"));
    w.write("new", 3);
    fs::create_directory(native(path("a")));
    put(path("a") + "/inside", "kept");
    EXPECT_THROW(w.commit(), FileError);
    EXPECT_EQ(entries(), 1u);
    EXPECT_TRUE(fs::is_directory(native(path("a"))));
    EXPECT_EQ(content(path("a") + "/inside"), "kept");
}

TEST_F(AtomicWriterTest, AReadOnlyFileIsRefusedAndKept) {
#ifndef _WIN32
    if (::geteuid() == 0) GTEST_SKIP() << "the superuser may write any file";
#endif
    put(path("a"), "old");
    fs::permissions(native(path("a")), fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);
    try {
        AtomicWriter w(path("a"));
        FAIL() << "opened a read-only file";
    } catch (const FileError& e) {
        EXPECT_EQ(e.code, EACCES);
        EXPECT_EQ(e.path, path("a"));
    }
    EXPECT_EQ(content(path("a")), "old");
    EXPECT_EQ(entries(), 1u);
}

// Names outside ASCII reach the system as the same characters, through the
// writer and the WAV reader alike, and a file already there is replaced.
TEST_F(AtomicWriterTest, NamesAreUtf8) {
    const std::string name = "caf\xC3\xA9 \xE9\x9F\xB3.wav";  // café 音.wav
    put(path(name), "old");
    const std::vector<float> samples = {0.5f, -0.25f, 1.0f, -1.0f};
    audio::write_wav(path(name), samples.data(), samples.size(), 44100, 2, audio::WavEncoding::float32);
    EXPECT_EQ(entries(), 1u);
    EXPECT_EQ(utf8(fs::directory_iterator(dir_)->path().filename()), name);
    const audio::AudioBuffer back = audio::read_wav(path(name));
    EXPECT_EQ(back.channels(), 2u);
    EXPECT_EQ(std::vector<float>(back.data(), back.data() + back.size()), samples);
}

TEST_F(AtomicWriterTest, AFolderIsNotReadAsAFile) {
    try {
        audio::read_wav(utf8(dir_));
        FAIL() << "read a folder";
    } catch (const FileError& e) {
        EXPECT_EQ(e.code, EISDIR);
    }
}

}  // namespace
}  // namespace tamlor

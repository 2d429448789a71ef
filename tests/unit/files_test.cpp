// The native files under the snapshot: a new file never opens what is
// already at its name (a planted link least of all), temporary names are
// fresh, and a replace reaches the disk with its folder.
//
// This executable records the rename and fsync calls the file layer makes
// (the definitions below stand in for the C library's and pass every call
// on), so it holds these tests alone.
#include <dlfcn.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "platform/backend.hpp"
#include "platform/files.hpp"
#include "platform/png_save.hpp"
#include "platform/screen.hpp"
#include "tests/unit/snapshot_test_support.hpp"

namespace {

std::vector<std::string> calls;  // "rename FROM TO", "fsync PATH"
std::string failing_fsync;       // the path whose fsync fails with EIO

std::string path_of(int fd) {
    std::error_code error;
    return std::filesystem::read_symlink("/proc/self/fd/" + std::to_string(fd), error).string();
}

}  // namespace

extern "C" int fsync(int fd) {
    static auto real = reinterpret_cast<int (*)(int)>(dlsym(RTLD_NEXT, "fsync"));
    const std::string path = path_of(fd);
    calls.push_back("fsync " + path);
    if (!failing_fsync.empty() && path == failing_fsync) {
        errno = EIO;
        return -1;
    }
    return real(fd);
}

extern "C" int rename(const char* from, const char* to) noexcept {
    static auto real = reinterpret_cast<int (*)(const char*, const char*)>(dlsym(RTLD_NEXT, "rename"));
    calls.push_back(std::string("rename ") + from + " " + to);
    return real(from, to);
}

namespace {

using namespace snapshot_test;

platform::FileSystem& native() { return platform::backend::native_files(); }

platform::Pixmap blank() {
    return platform::grab_screen(platform::Screen{}, 0, 0, platform::Screen::kWidth, platform::Screen::kHeight);
}

class Files : public TempFolder {
protected:
    void SetUp() override {
        TempFolder::SetUp();
        // The real folder name, as /proc reports it.
        dir_ = fs::canonical(dir_);
        calls.clear();
        failing_fsync.clear();
    }
    void TearDown() override {
        failing_fsync.clear();
        TempFolder::TearDown();
    }
    // The file a planted link points to, outside the save's folder.
    fs::path victim() const { return dir_ / "victim"; }
};

// ---------------------------------------------------------------------------
// create_new opens nothing that is already there.

TEST_F(Files, CreateNewRefusesWhateverIsAtTheName) {
    const Bytes kept = {'k', 'e', 'e', 'p'};
    const struct {
        const char* name;
        void (*plant)(const fs::path& at, const fs::path& victim);
    } cases[] = {
        {"a file", [](const fs::path& at, const fs::path&) { write_file(at, {'k', 'e', 'e', 'p'}); }},
        {"a link to a file", [](const fs::path& at, const fs::path& v) { fs::create_symlink(v, at); }},
        {"a link to nothing", [](const fs::path& at, const fs::path& v) { fs::create_symlink(v.string() + ".none", at); }},
        {"a folder", [](const fs::path& at, const fs::path&) { fs::create_directory(at); }},
        {"a link to a folder", [](const fs::path& at, const fs::path& v) { fs::create_directory_symlink(v.parent_path(), at); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(dir_);
        fs::create_directory(dir_);
        write_file(victim(), kept);
        const fs::path at = dir_ / "save.bmp.abcdef.tmp";
        c.plant(at, victim());
        const std::vector<std::string> before = entries(dir_);

        bool taken = false;
        EXPECT_EQ(native().create_new(at.string(), taken), nullptr);
        EXPECT_TRUE(taken);
        EXPECT_EQ(native().last_error(), "File exists");
        EXPECT_EQ(read_file(victim()), kept);
        EXPECT_EQ(entries(dir_), before) << "nothing made, nothing removed";
    }
}

TEST_F(Files, CreateNewMakesAFileOfItsOwn) {
    const fs::path at = dir_ / "new";
    bool taken = true;
    std::unique_ptr<platform::OutputFile> file = native().create_new(at.string(), taken);
    ASSERT_NE(file, nullptr) << native().last_error();
    EXPECT_FALSE(taken);
    ASSERT_TRUE(file->write("abc", 3));
    ASSERT_TRUE(file->close());
    EXPECT_EQ(read_file(at), (Bytes{'a', 'b', 'c'}));
    EXPECT_EQ(calls, std::vector<std::string>{"fsync " + at.string()}) << "the bytes reach the disk";

    // In a folder that is not there it fails, and not for a taken name.
    EXPECT_EQ(native().create_new((dir_ / "none" / "new").string(), taken), nullptr);
    EXPECT_FALSE(taken);
    EXPECT_EQ(native().last_error(), "No such file or directory");
}

// ---------------------------------------------------------------------------
// Temporary names.

// The native files, with a link to the victim planted at each of the first
// `plant` names asked for, just before they are asked for.
class PlantingFiles final : public platform::FileSystem {
public:
    PlantingFiles(fs::path victim, int plant) : victim_(std::move(victim)), plant_(plant) {}
    std::vector<std::string> asked;

    std::unique_ptr<platform::OutputFile> create_new(const std::string& path, bool& taken) override {
        asked.push_back(path);
        if (int(asked.size()) <= plant_) fs::create_symlink(victim_, path);
        return native().create_new(path, taken);
    }
    bool replace(const std::string& from, const std::string& to) override { return native().replace(from, to); }
    bool remove(const std::string& path) override { return native().remove(path); }
    std::string last_error() const override { return native().last_error(); }

private:
    fs::path victim_;
    int plant_;
};

TEST_F(Files, TemporaryNamesAreFreshAndBesideTheTarget) {
    const std::string target = (dir_ / "save.bmp").string();
    std::set<std::string> names;
    for (int i = 0; i < 50; ++i) {
        std::string path;
        std::unique_ptr<platform::OutputFile> file = platform::create_temporary(native(), target, path);
        ASSERT_NE(file, nullptr) << native().last_error();
        ASSERT_TRUE(file->close());
        ASSERT_EQ(path.size(), target.size() + 11) << path;
        EXPECT_EQ(path.substr(0, target.size() + 1), target + ".") << path;
        EXPECT_EQ(path.substr(path.size() - 4), ".tmp") << path;
        for (char c : path.substr(target.size() + 1, 6)) EXPECT_TRUE(std::isalnum(static_cast<unsigned char>(c))) << path;
        names.insert(path);
    }
    EXPECT_EQ(names.size(), 50u);
    EXPECT_EQ(entries(dir_).size(), 50u);
}

TEST_F(Files, SaveGoesPastLinksPlantedAtItsNames) {
    const Bytes kept = {'k', 'e', 'e', 'p'};
    write_file(victim(), kept);
    write_file(dir_ / "save.bmp", {'o', 'l', 'd'});
    // The old fixed name too.
    fs::create_symlink(victim(), dir_ / "save.bmp.tmp");
    PlantingFiles files(victim(), 3);
    platform::set_file_system(&files);

    const platform::SaveResult saved = platform::save_png(blank(), (dir_ / "save.bmp").string());
    ASSERT_TRUE(saved.ok) << saved.reason;
    ASSERT_EQ(files.asked.size(), 4u);
    EXPECT_EQ(read_file(victim()), kept);
    const Decoded shot = decode(read_file(dir_ / "save.bmp"));
    EXPECT_EQ(shot.width, 800u);
    EXPECT_FALSE(fs::is_symlink(dir_ / "save.bmp"));
    // The planted links stay as they were; the file written was the fourth name.
    for (int i = 0; i < 3; ++i) {
        EXPECT_TRUE(fs::is_symlink(files.asked[std::size_t(i)]));
        EXPECT_EQ(fs::read_symlink(files.asked[std::size_t(i)]), victim());
    }
    EXPECT_FALSE(fs::exists(files.asked[3]));
    EXPECT_EQ(calls.end()[-2], "rename " + files.asked[3] + " " + (dir_ / "save.bmp").string());
}

TEST_F(Files, SaveGivesUpWhenEveryNameIsTaken) {
    const Bytes kept = {'k', 'e', 'e', 'p'};
    write_file(victim(), kept);
    write_file(dir_ / "save.bmp", {'o', 'l', 'd'});
    PlantingFiles files(victim(), 1000);
    platform::set_file_system(&files);

    const platform::SaveResult saved = platform::save_png(blank(), (dir_ / "save.bmp").string());
    EXPECT_FALSE(saved.ok);
    EXPECT_EQ(saved.reason, "cannot create a file in " + dir_.string() + ": File exists");
    EXPECT_EQ(files.asked.size(), 100u);
    EXPECT_EQ(read_file(victim()), kept);
    EXPECT_EQ(read_file(dir_ / "save.bmp"), (Bytes{'o', 'l', 'd'}));
}

// ---------------------------------------------------------------------------
// The replace reaches the disk: the file before the move, its folder after.

TEST_F(Files, SaveSyncsTheFileThenMovesItThenSyncsTheFolder) {
    const platform::SaveResult saved = platform::save_png(blank(), (dir_ / "save.bmp").string());
    ASSERT_TRUE(saved.ok) << saved.reason;
    ASSERT_EQ(calls.size(), 3u);
    const std::string temp = calls[0].substr(6);
    EXPECT_EQ(calls[0], "fsync " + temp);
    EXPECT_EQ(calls[1], "rename " + temp + " " + (dir_ / "save.bmp").string());
    EXPECT_EQ(calls[2], "fsync " + dir_.string());
}

TEST_F(Files, FolderThatCannotBeSyncedFailsTheReplace) {
    write_file(dir_ / "from", {'n', 'e', 'w'});
    failing_fsync = dir_.string();
    EXPECT_FALSE(native().replace((dir_ / "from").string(), (dir_ / "to").string()));
    EXPECT_EQ(native().last_error(), "Input/output error");
}

}  // namespace

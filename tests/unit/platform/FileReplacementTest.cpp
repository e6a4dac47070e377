// A replacement of any size, a download's gigabyte as much as the
// configuration, either puts every new byte in place or leaves the old file
// whole, and never leaves a temporary file beside it: when it is committed,
// abandoned, refused by a full disk after the write-back has begun, or killed.
#include "platform/Files.h"

#include "TempDir.h"

#include <gtest/gtest.h>

#include <csignal>
#include <set>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

using platform::FileReplacement;

namespace {

constexpr size_t kStretch = FileReplacement::writeBackStretch;
constexpr size_t kBlock = 1 << 20; // a download's read block
// Enough stretches that the writes wait on earlier ones, and a ragged end.
constexpr size_t kLarge = 4 * kStretch + 4321;

const std::string kOld = "the old file, whole";

std::string pattern(size_t size) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<char>((i * 7 + i / 4093) & 0xff);
    return bytes;
}

// Writes the bytes in download-sized blocks; after each block that went in,
// tells `after` how many bytes are written. False with the error of the first
// refused block.
template <typename After>
bool writeInBlocks(FileReplacement& file, const std::string& bytes, int& error, After after) {
    for (size_t at = 0; at < bytes.size(); at += kBlock) {
        const size_t n = std::min(kBlock, bytes.size() - at);
        if (!file.write(bytes.data() + at, n, error))
            return false;
        after(at + n);
    }
    return true;
}

std::set<std::string> entriesIn(const TempDir& dir) {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
        names.insert(entry.path().filename().string());
    return names;
}

enum class Ending { Commit, Abandon, DiskFull, Killed };

struct Case {
    const char* name;
    size_t size;
    Ending ending;
    bool oldExists;
    size_t at = 0; // DiskFull: the most a file may hold; Killed: bytes written before the kill
};

// The child's exit status of a replacement that a full disk refuses: 0 when
// the refusal is reported as EFBIG by the write and then again by the commit.
int refusedByFullDisk(const std::string& path, const std::string& bytes, size_t limit) {
    signal(SIGXFSZ, SIG_IGN);
    rlimit fileSize{limit, limit};
    if (setrlimit(RLIMIT_FSIZE, &fileSize) != 0)
        return 10;
    FileReplacement file;
    int error = 0;
    if (!file.open(path, error))
        return 11;
    if (writeInBlocks(file, bytes, error, [](size_t) {}))
        return 12; // every byte went in
    if (error != EFBIG)
        return 13;
    error = 0;
    if (file.write("x", 1, error) || error != EFBIG)
        return 14; // a failed replacement takes no more bytes
    error = 0;
    if (file.commit(error) || error != EFBIG)
        return 15;
    return 0;
}

// Kills a child in the middle of a replacement, once `at` bytes are written.
void killedWhileWriting(const std::string& path, const std::string& bytes, size_t at) {
    int written[2];
    ASSERT_EQ(pipe(written), 0);
    pid_t pid = fork();
    if (pid == 0) {
        FileReplacement file;
        int error = 0;
        if (file.open(path, error))
            writeInBlocks(file, bytes, error, [&](size_t done) {
                if (done >= at) {
                    (void)!::write(written[1], "w", 1);
                    pause();
                }
            });
        _exit(1);
    }
    close(written[1]);
    char signal = 0;
    EXPECT_EQ(read(written[0], &signal, 1), 1) << "the child did not get that far";
    close(written[0]);
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
}

TEST(FileReplacement, EveryEndingLeavesTheNewFileWholeOrTheOldOneAndNoTemporary) {
    const Case cases[] = {
        {"configuration-sized, committed", 5000, Ending::Commit, true},
        {"one stretch exactly, committed", kStretch, Ending::Commit, true},
        {"many stretches, committed", kLarge, Ending::Commit, true},
        {"many stretches, first file, committed", kLarge, Ending::Commit, false},
        {"configuration-sized, abandoned", 5000, Ending::Abandon, true},
        {"many stretches, abandoned", kLarge, Ending::Abandon, true},
        {"disk full in the first block", kLarge, Ending::DiskFull, true, 100000},
        {"disk full after the write-back began", kLarge, Ending::DiskFull, true, 3 * kStretch + 5},
        {"disk full, first file", kLarge, Ending::DiskFull, false, 3 * kStretch + 5},
        {"killed after the write-back began", kLarge, Ending::Killed, true, 3 * kStretch},
        {"killed, first file", kLarge, Ending::Killed, false, 3 * kStretch},
    };
    const std::string large = pattern(kLarge);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        const std::string path = dir.file("target.bin");
        if (c.oldExists)
            dir.write("target.bin", kOld);
        const std::string bytes = large.substr(0, c.size);
        bool committed = false;
        switch (c.ending) {
        case Ending::Commit:
        case Ending::Abandon: {
            FileReplacement file;
            int error = 0;
            ASSERT_TRUE(file.open(path, error)) << error;
            ASSERT_TRUE(writeInBlocks(file, bytes, error, [](size_t) {})) << error;
            // Nothing of the new bytes shows before the commit.
            EXPECT_EQ(entriesIn(dir).size(), c.oldExists ? 1u : 0u);
            if (c.ending == Ending::Commit) {
                committed = file.commit(error);
                EXPECT_TRUE(committed) << error;
            }
            break;
        }
        case Ending::DiskFull: {
            pid_t pid = fork();
            if (pid == 0)
                _exit(refusedByFullDisk(path, bytes, c.at));
            int status = -1;
            waitpid(pid, &status, 0);
            EXPECT_TRUE(WIFEXITED(status));
            EXPECT_EQ(WEXITSTATUS(status), 0);
            break;
        }
        case Ending::Killed:
            killedWhileWriting(path, bytes, c.at);
            break;
        }
        if (committed) {
            EXPECT_TRUE(dir.read("target.bin") == bytes) << "not the new bytes";
            EXPECT_EQ(entriesIn(dir), std::set<std::string>{"target.bin"});
        } else if (c.oldExists) {
            EXPECT_TRUE(dir.read("target.bin") == kOld) << "not the old file";
            EXPECT_EQ(entriesIn(dir), std::set<std::string>{"target.bin"});
        } else {
            EXPECT_EQ(entriesIn(dir), std::set<std::string>{});
        }
    }
}

} // namespace

// A file written into a folder someone else owns (a screenshot into a shared
// folder): a link the folder's owner planted at its name, or at any name a
// temporary could have, is never written through; the link at the name is
// replaced by the file, and the link's target keeps its bytes.
TEST(FileReplacement, ALinkPlantedAtTheNameIsReplacedNotWrittenThrough) {
    TempDir dir;
    dir.write("victim", kOld);
    const std::string victim = dir.file("victim");
    const std::string picture = dir.file("WALL0.png");
    // Links at the name and at the names a careless writer would use.
    std::filesystem::create_symlink(victim, picture);
    for (const std::string& guess : {picture + ".part-" + std::to_string(::getpid()),
                                     picture + ".tmp", dir.file(".WALL0.png.save-")})
        std::filesystem::create_symlink(victim, guess);

    int error = 0;
    ASSERT_TRUE(platform::replaceFile(picture, "PNG bytes", error, platform::LinkAtPath::Replace))
        << error;
    EXPECT_FALSE(std::filesystem::is_symlink(picture));
    EXPECT_EQ(dir.read("WALL0.png"), "PNG bytes");
    EXPECT_EQ(dir.read("victim"), kOld) << "the link's target is untouched";

    // The settings file keeps following its link, as before.
    std::filesystem::create_symlink(victim, dir.file("Panoview.config"));
    ASSERT_TRUE(platform::replaceFile(dir.file("Panoview.config"), "settings", error));
    EXPECT_TRUE(std::filesystem::is_symlink(dir.file("Panoview.config")));
    EXPECT_EQ(dir.read("victim"), "settings");
}

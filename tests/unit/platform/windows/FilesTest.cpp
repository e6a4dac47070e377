// Files on Windows: read whole with bounds, and replaced durably (a
// temporary beside the file, FlushFileBuffers, MoveFileExW) so that a
// failed save keeps the old file whole.
#include "platform/Files.h"

#include "TempDir.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <windows.h>

namespace {

// The names in the folder, the temporaries included.
std::vector<std::string> namesIn(const TempDir& dir) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// Panoview.config as a Chinese Windows system has it: GBK bytes.
const std::string kGbkConfig = "{\n\t\"userid\":\t\"\xD5\xC5\xC8\xFD\",\n"
                               "\t\"web\":\t\"http://\xB9\xA4\xB3\xA7/a\"\n}";

} // namespace

TEST(WindowsFiles, ReplacesAndCreatesWithTheBytesAsGiven) {
    TempDir dir;
    const std::string path = dir.file("Panoview.config");
    int error = -1;
    ASSERT_TRUE(platform::replaceFile(path, kGbkConfig, error)) << error;
    EXPECT_EQ(dir.read("Panoview.config"), kGbkConfig);
    ASSERT_TRUE(platform::replaceFile(path, "{}", error)) << error;
    EXPECT_EQ(dir.read("Panoview.config"), "{}");
    EXPECT_EQ(namesIn(dir), std::vector<std::string>{"Panoview.config"});

    std::string bytes;
    EXPECT_EQ(platform::readRegularFile(path, 1024, bytes, error), platform::FileRead::Read);
    EXPECT_EQ(bytes, "{}");
}

// A file that another program holds open without delete sharing cannot be
// replaced: the save fails with the system's error, the old file stays
// whole and no temporary is left.
TEST(WindowsFiles, FailedReplacementKeepsTheOldFileWhole) {
    TempDir dir;
    dir.write("Panoview.config", kGbkConfig);
    const std::string path = dir.file("Panoview.config");
    HANDLE held = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    int error = 0;
    EXPECT_FALSE(platform::replaceFile(path, "{\"userid\":\"new\"}", error));
    EXPECT_NE(error, 0);
    CloseHandle(held);
    EXPECT_EQ(dir.read("Panoview.config"), kGbkConfig);
    EXPECT_EQ(namesIn(dir), std::vector<std::string>{"Panoview.config"});
}

// A replacement that ends without its commit leaves the file as it was.
TEST(WindowsFiles, ReplacementWithoutCommitChangesNothing) {
    TempDir dir;
    dir.write("Panoview.config", "old");
    {
        platform::FileReplacement replacement;
        int error = 0;
        ASSERT_TRUE(replacement.open(dir.file("Panoview.config"), error)) << error;
        ASSERT_TRUE(replacement.write("new bytes", 9, error)) << error;
        EXPECT_EQ(dir.read("Panoview.config"), "old");
        EXPECT_EQ(namesIn(dir).size(), 2u) << "the temporary lies beside the file";
    }
    EXPECT_EQ(dir.read("Panoview.config"), "old");
    EXPECT_EQ(namesIn(dir), std::vector<std::string>{"Panoview.config"});
}

TEST(WindowsFiles, MissingFolderFailsAtOpen) {
    TempDir dir;
    int error = 0;
    EXPECT_FALSE(platform::replaceFile(dir.file("missing\\Panoview.config"), "{}", error));
    EXPECT_NE(error, 0);
    EXPECT_TRUE(namesIn(dir).empty());
}

// The temporary of a save whose process ended is removed by the next
// replacement in that folder; one of a living process is left alone.
TEST(WindowsFiles, StaleTemporaryOfAnEndedProcessIsRemoved) {
    TempDir dir;
    const std::string prefix = platform::replaceTemporaryPrefix("Panoview.config");
    // Process ids are multiples of four: this one is never a process.
    dir.write(prefix + "4294967291-deadbeef", "left");
    const std::string living = prefix + std::to_string(GetCurrentProcessId()) + "-cafe0000";
    dir.write(living, "mine");
    int error = 0;
    ASSERT_TRUE(platform::replaceFile(dir.file("Panoview.config"), "{}", error)) << error;
    EXPECT_EQ(namesIn(dir), (std::vector<std::string>{living, "Panoview.config"}));
}

// A large file is flushed stretch by stretch and arrives whole.
TEST(WindowsFiles, LargeFileArrivesWhole) {
    TempDir dir;
    platform::FileReplacement replacement;
    int error = 0;
    ASSERT_TRUE(replacement.open(dir.file("big.bin"), error)) << error;
    std::string block(1 << 20, '\0');
    for (size_t i = 0; i < block.size(); ++i)
        block[i] = static_cast<char>(i * 7);
    for (int i = 0; i < 20; ++i)
        ASSERT_TRUE(replacement.write(block.data(), block.size(), error)) << error;
    ASSERT_TRUE(replacement.commit(error)) << error;
    EXPECT_EQ(std::filesystem::file_size(dir.path() / "big.bin"), 20u << 20);
}

TEST(WindowsFiles, ReadsOnlyRegularFilesWithinTheLimit) {
    TempDir dir;
    std::string bytes;
    int error = 0;
    EXPECT_EQ(platform::readRegularFile(dir.file("none"), 100, bytes, error),
              platform::FileRead::Missing);
    EXPECT_EQ(platform::readRegularFile(dir.file("none\\deeper"), 100, bytes, error),
              platform::FileRead::Missing);
    EXPECT_EQ(platform::readRegularFile(dir.path().string(), 100, bytes, error),
              platform::FileRead::NotRegular);
    EXPECT_EQ(platform::readRegularFile("NUL", 100, bytes, error), platform::FileRead::NotRegular);
    dir.write("big", std::string(101, 'x'));
    EXPECT_EQ(platform::readRegularFile(dir.file("big"), 100, bytes, error),
              platform::FileRead::TooLarge);
    EXPECT_EQ(platform::readRegularFile(dir.file("big"), 101, bytes, error),
              platform::FileRead::Read);
    EXPECT_EQ(bytes, std::string(101, 'x'));
    dir.write("gbk", kGbkConfig);
    EXPECT_EQ(platform::readRegularFile(dir.file("gbk"), 1024, bytes, error),
              platform::FileRead::Read);
    EXPECT_EQ(bytes, kGbkConfig);
}

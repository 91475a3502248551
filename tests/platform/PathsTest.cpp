#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "platform/Console.h"
#include "platform/Helpers.h"
#include "platform/PortNames.h"
#include "platform/UserFolders.h"
#include "tests/support/NativePath.h"

// Files and folders with Korean names through the platform's helpers, on either system: the
// names must reach the file system as the characters they are (std::filesystem, which speaks
// UTF-16 to Windows, finds them), whatever the process's code page is.

namespace zembra {
namespace {

#ifdef _WIN32
constexpr bool kWindows = true;
#else
constexpr bool kWindows = false;
#endif

using test::Native;

class KoreanFolder : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(MakeFolders(folder)) << folder; }
    void TearDown() override {
        std::error_code ec;
        std::filesystem::permissions(Native(folder), std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ec);
        std::filesystem::remove_all(Native(root), ec);
    }
    const std::string root = test::ScratchRoot() + "zembra-paths-" + std::to_string(getpid());
    const std::string folder = root + "/펌웨어/신규 모델";
};

TEST_F(KoreanFolder, FilesAreMadeReadReplacedRenamedAndRemoved) {
    const std::string code = folder + "/code.bin";
    ASSERT_EQ(ReplaceFileDurably(code, "first"), "");
    EXPECT_TRUE(std::filesystem::is_regular_file(Native(code)));
    EXPECT_TRUE(FileExists(code));
    EXPECT_EQ(PathKindOf(code), PathKind::Regular);
    EXPECT_EQ(PathKindOf(folder), PathKind::Other);
    EXPECT_EQ(PathKindOf(folder + "/없음.bin"), PathKind::Missing);
    EXPECT_EQ(FileSizeOf(code), 5);
    EXPECT_FALSE(FileTimeText(code).empty());

    FileVersion before, opened;
    ASSERT_TRUE(FileVersionAt(code, before));
    std::FILE* file = OpenRegularFile(code);
    ASSERT_NE(file, nullptr);
    char text[16] = {};
    EXPECT_EQ(std::fread(text, 1, sizeof text, file), 5u);
    EXPECT_TRUE(FileVersionOf(file, opened));
    std::fclose(file);
    EXPECT_EQ(std::string(text), "first");
    EXPECT_EQ(opened, before);

    // Replaced over an existing file: another file in its place, nothing left beside it.
    ASSERT_EQ(ReplaceFileDurably(code, "second!"), "");
    FileVersion after;
    ASSERT_TRUE(FileVersionAt(code, after));
    EXPECT_NE(after, before);
    EXPECT_EQ(FileSizeOf(code), 7);

    const std::string renamed = folder + "/코드.bin";
    ASSERT_TRUE(RenameFile(code, renamed));
    EXPECT_EQ(PathKindOf(code), PathKind::Missing);
    EXPECT_TRUE(std::filesystem::is_regular_file(Native(renamed)));
    EXPECT_TRUE(SameRegularFile(renamed, folder + "/../신규 모델/코드.bin"));
    std::FILE* append = OpenFile(renamed, "ab");
    ASSERT_NE(append, nullptr);
    EXPECT_TRUE(WriteText(append, "+추가"));
    std::fclose(append);
    EXPECT_EQ(FileSizeOf(renamed), 7 + 7);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(Native(folder)), {}), 1);
    EXPECT_TRUE(RemoveFile(renamed));
    EXPECT_FALSE(FileExists(renamed));
    EXPECT_FALSE(RemoveFile(renamed));
}

// Writability is tried with a file: a folder's read-only attribute keeps nobody out on
// Windows, and its mode keeps out everyone but root on Linux.
TEST_F(KoreanFolder, WritableWhenAFileCanBeMadeThere) {
    EXPECT_TRUE(FolderWritable(folder));
    EXPECT_FALSE(FolderWritable(folder + "/없는 폴더"));
    std::filesystem::permissions(Native(folder),
                                 std::filesystem::perms::owner_write |
                                     std::filesystem::perms::group_write |
                                     std::filesystem::perms::others_write,
                                 std::filesystem::perm_options::remove);
    if (kWindows) {
        EXPECT_TRUE(FolderWritable(folder));
    } else if (geteuid() != 0) {
        EXPECT_FALSE(FolderWritable(folder));
    }
    EXPECT_TRUE(std::filesystem::is_empty(Native(folder)));
}

TEST_F(KoreanFolder, ConsoleTextToAFileIsTheUtf8Bytes) {
    const std::string path = folder + "/출력.txt";
    std::FILE* out = OpenFile(path, "wb");
    ASSERT_NE(out, nullptr);
    EXPECT_TRUE(WriteText(out, "코드 image\n"));
    EXPECT_TRUE(PrintText(out, "%s %d\n", "신규", 7));
    std::fclose(out);
    std::FILE* in = OpenRegularFile(path);
    ASSERT_NE(in, nullptr);
    char text[64] = {};
    EXPECT_EQ(std::fread(text, 1, sizeof text - 1, in), 22u);
    std::fclose(in);
    EXPECT_EQ(std::string(text), "코드 image\n신규 7\n");
}

TEST(Paths, AbsoluteOnTheSystemAndTheHomeFolder) {
    EXPECT_TRUE(IsAbsolutePath("/var/zembra/z.sqlite"));
    EXPECT_FALSE(IsAbsolutePath("rel/z.sqlite"));
    EXPECT_FALSE(IsAbsolutePath("~/z.sqlite"));
    EXPECT_FALSE(IsAbsolutePath("C:z.sqlite"));  // relative to drive C's current folder
    EXPECT_EQ(IsAbsolutePath("C:\\records\\z.sqlite"), kWindows);
    EXPECT_EQ(IsAbsolutePath("d:/records/z.sqlite"), kWindows);
    EXPECT_EQ(IsAbsolutePath("\\\\server\\share\\z.sqlite"), kWindows);

    const std::string home = HomeFolder();
    EXPECT_TRUE(IsAbsolutePath(home)) << home;
    EXPECT_EQ(ExpandHome("~"), home);
    EXPECT_EQ(ExpandHome("~/기록/z.sqlite"), home + "/기록/z.sqlite");
    EXPECT_EQ(ExpandHome("~\\z.sqlite"), kWindows ? home + "\\z.sqlite" : "~\\z.sqlite");
    EXPECT_EQ(ExpandHome("~other/z.sqlite"), "~other/z.sqlite");
    EXPECT_TRUE(IsAbsolutePath(UserDataFolder())) << UserDataFolder();
}

}  // namespace
}  // namespace zembra

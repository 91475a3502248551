#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <ctime>
#include <filesystem>
#include <fstream>
#include <thread>

#include "platform/Helpers.h"

namespace zembra {
namespace {

TEST(Helpers, ParseNumber) {
    EXPECT_EQ(ParseNumber(""), 0u);
    EXPECT_EQ(ParseNumber("1F"), 1u);
    EXPECT_EQ(ParseNumber("0x1F"), 31u);
    EXPECT_EQ(ParseNumber("0X1f"), 31u);
    EXPECT_EQ(ParseNumber("10"), 10u);
    EXPECT_EQ(ParseNumber("0x"), 0u);
    EXPECT_EQ(ParseNumber("0x10000 tail"), 0x10000u);
    EXPECT_EQ(ParseNumber("abc"), 0u);
    EXPECT_EQ(ParseNumber(" 10"), 0u);  // decimal up to the first non-digit: none
    EXPECT_EQ(ParseNumber("0xFFFFFFFF"), 0xFFFFFFFFu);
    EXPECT_EQ(ParseNumber("0x100000000"), 0xFFFFFFFFu);
    EXPECT_EQ(ParseNumber("99999999999999999999"), 0xFFFFFFFFu);
    EXPECT_EQ(ParseNumber("4294967295"), 0xFFFFFFFFu);
    EXPECT_EQ(ParseNumber("012"), 12u);
}

TEST(Helpers, FormatTextAndHexDump) {
    EXPECT_EQ(FormatText("이름:%s 크기:0x%X,%d 바이트", "a.bin", 65536, 65536),
              "이름:a.bin 크기:0x10000,65536 바이트");
    EXPECT_EQ(FormatText("%s", ""), "");
    std::string longArg(10000, 'z');
    EXPECT_EQ(FormatText("[%s]", longArg.c_str()), "[" + longArg + "]");

    const std::uint8_t bytes[] = {0x7E, 0x00, 0xAB, 0x0F};
    EXPECT_EQ(HexDump(bytes, 4), "7E 00 AB 0F ");
    EXPECT_EQ(HexDump(bytes, 0), "");
    std::vector<std::uint8_t> many(10000, 0x5A);
    std::string dump = HexDump(many.data(), many.size());
    EXPECT_EQ(dump.size(), 8225u * 3);
}

TEST(Helpers, FileNameOnly) {
    EXPECT_EQ(FileNameOnly("C:\\img\\code.bin"), "code.bin");
    EXPECT_EQ(FileNameOnly("/img/code.bin"), "code.bin");
    EXPECT_EQ(FileNameOnly("/mix\\dir/a\\b.bin"), "b.bin");
    EXPECT_EQ(FileNameOnly("plain.bin"), "plain.bin");
    EXPECT_EQ(FileNameOnly(""), "");
    EXPECT_EQ(FileNameOnly("/dir/"), "");
}

TEST(Helpers, IsAbsolutePath) {
    for (const char* path : {"/var/r.sqlite", "C:\\기록\\z.sqlite", "d:/r.sqlite", "\\\\pc\\share"})
        EXPECT_TRUE(IsAbsolutePath(path)) << path;
    for (const char* path : {"r.sqlite", "기록\\z.sqlite", "C:r.sqlite", "", "~/r.sqlite"})
        EXPECT_FALSE(IsAbsolutePath(path)) << path;
}

class HelpersFiles : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string pattern = "/tmp/zembra-helpers-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        dir = pattern;
    }
    void TearDown() override { std::filesystem::remove_all(dir); }
    std::string dir;
};

TEST_F(HelpersFiles, ExistsSizeAndTime) {
    std::string file = dir + "/a.bin";
    std::ofstream(file, std::ios::binary) << std::string(1234, 'x');
    EXPECT_TRUE(FileExists(file));
    EXPECT_TRUE(FileExists(dir));
    EXPECT_FALSE(FileExists(dir + "/none"));
    EXPECT_FALSE(FileExists(""));
    std::string dangling = dir + "/dangling";
    ASSERT_EQ(::symlink("/nonexistent/x", dangling.c_str()), 0);
    EXPECT_TRUE(FileExists(dangling));

    EXPECT_EQ(FileSizeOf(file), 1234);
    EXPECT_EQ(FileSizeOf(dir + "/none"), 0);
    EXPECT_EQ(FileSizeOf(dir), 0);

    // 2021-03-04 05:06:07 local time.
    std::tm when{};
    when.tm_year = 121;
    when.tm_mon = 2;
    when.tm_mday = 4;
    when.tm_hour = 5;
    when.tm_min = 6;
    when.tm_sec = 7;
    when.tm_isdst = -1;
    std::time_t t = std::mktime(&when);
    struct timespec times[2] = {{t, 0}, {t, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, file.c_str(), times, 0), 0);
    EXPECT_EQ(FileTimeText(file), "21-03-04 05:06:07");
    EXPECT_EQ(FileTimeText(dir + "/none"), "");
    EXPECT_EQ(FileTimeText(""), "");
}

TEST(Helpers, NowMsIsSteady) {
    double a = NowMs();
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    double b = NowMs();
    EXPECT_GE(b - a, 4.0);
    EXPECT_NE(ProgramPath(), "");
}

TEST(Helpers, Cp949Conversion) {
    EXPECT_EQ(Utf8ToCp949("[모델명]"), "\x5B\xB8\xF0\xB5\xA8\xB8\xED\x5D");
    EXPECT_EQ(Cp949ToUtf8("\x5B\xB8\xF0\xB5\xA8\xB8\xED\x5D"), "[모델명]");
    EXPECT_EQ(Cp949ToUtf8(Utf8ToCp949("임의파일 ABC 0x1F")), "임의파일 ABC 0x1F");
    EXPECT_EQ(Cp949ToUtf8(""), "");
    EXPECT_EQ(Cp949ToUtf8(std::string("a\0b", 3)), std::string("a\0b", 3));

    // Invalid CP949: every byte that starts no character becomes U+FFFD; the rest survives.
    EXPECT_EQ(Cp949ToUtf8("a\xFF"
                          "b"),
              "a\xEF\xBF\xBD"
              "b");
    EXPECT_EQ(Cp949ToUtf8("x\xB8"), "x\xEF\xBF\xBD");  // lead byte cut off at the end
    // An invalid pair at the very end, which the converter reports after taking it: the
    // conversion ends there (it used to go on past the end of the text).
    EXPECT_EQ(Cp949ToUtf8("a\xA2\xE8"), "a\xEF\xBF\xBD");
    // Not representable in CP949 (emoji), and invalid UTF-8: "?".
    EXPECT_EQ(Utf8ToCp949("a\xF0\x9F\x98\x80z"), "a?z");
    EXPECT_EQ(Utf8ToCp949("a\xC3z"), "a?z");
    EXPECT_EQ(Utf8ToCp949("a\xFFz"), "a?z");

    std::string noise;
    for (int i = 0; i < 100000; ++i) noise += static_cast<char>((i * 31 + 7) % 256);
    EXPECT_FALSE(Cp949ToUtf8(noise).empty());
    EXPECT_FALSE(Utf8ToCp949(noise).empty());
}

}  // namespace
}  // namespace zembra

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "job/ImageChecks.h"
#include "tests/job/CodeImages.h"
#include "tests/support/TestSupport.h"

namespace zembra {
namespace {

using test::CodeImage;
using test::kVersionMessage;
using TempDir = test::ScratchDir;

std::vector<std::string> Texts(const SelectionResult& r) {
    std::vector<std::string> texts;
    for (const LogLine& line : r.log) {
        EXPECT_EQ(line.colour, 0u);
        texts.push_back(line.text);
    }
    return texts;
}

TEST(ImageChecks, SizeRule) {
    TempDir dir;
    std::string ok = dir.Write("font1.bin", std::string(65536, '\0'));
    std::string odd = dir.Write("font1b.bin", std::string(65537, '\0'));

    SelectionResult r = SelectImageFile(ImageSlot::Font1, ok, true);
    EXPECT_TRUE(r.selected);
    EXPECT_EQ(r.size, 65536);
    EXPECT_EQ(Texts(r), std::vector<std::string>{"이름:" + ok + " 크기:0x10000,65536 바이트"});

    r = SelectImageFile(ImageSlot::Font1, odd, true);
    EXPECT_FALSE(r.selected);
    EXPECT_EQ(Texts(r).back(), "파일 크기는 0x10000의 배수가 되어야 합니다. 환경에서 조정가능");
    r = SelectImageFile(ImageSlot::Font1, odd, false);
    EXPECT_TRUE(r.selected);

    std::string code = dir.Write("code.bin", CodeImage(65537, 0x0001, 0x00010000));
    r = SelectImageFile(ImageSlot::Code, code, true);
    EXPECT_FALSE(r.selected);
    EXPECT_EQ(Texts(r), (std::vector<std::string>{"이름:" + code + " 크기:0x10001,65537 바이트",
                                                  "파일 크기는 0x10000의 배수가 되어야 합니다."}));
    EXPECT_TRUE(SelectImageFile(ImageSlot::Code, code, false).selected);
}

TEST(ImageChecks, CodeTrailer) {
    TempDir dir;
    std::string good = dir.Write("good.bin", CodeImage(65536, 0x1234, 0x4000));
    SelectionResult r = SelectImageFile(ImageSlot::Code, good, true);
    EXPECT_TRUE(r.selected);
    EXPECT_EQ(r.version, 4660);
    EXPECT_EQ(r.bootLocation, 0x4000u);
    EXPECT_EQ(Texts(r),
              (std::vector<std::string>{"이름:" + good + " 크기:0x10000,65536 바이트",
                                        "코드 파일 버전 정보:4660", "코드 부트 위치 정보:0x4000"}));

    std::string ffff = dir.Write("ffff.bin", CodeImage(65536, 0xFFFF, 0x4000));
    r = SelectImageFile(ImageSlot::Code, ffff, true);
    EXPECT_FALSE(r.selected);
    EXPECT_EQ(Texts(r), (std::vector<std::string>{"이름:" + ffff + " 크기:0x10000,65536 바이트",
                                                  "코드 파일 버전 정보:65535", kVersionMessage}));
    std::string zero = dir.Write("zero.bin", CodeImage(100, 0, 0x04030201));
    EXPECT_EQ(ReadCodeTrailer(zero).status, CodeTrailer::Status::VersionInvalid);

    std::string noBoot = dir.Write("noboot.bin", CodeImage(65536, 0x0001, 0));
    r = SelectImageFile(ImageSlot::Code, noBoot, true);
    EXPECT_FALSE(r.selected);
    EXPECT_EQ(Texts(r),
              (std::vector<std::string>{
                  "이름:" + noBoot + " 크기:0x10000,65536 바이트", "코드 파일 버전 정보:1",
                  "코드 부트 위치 정보:0x0",
                  "부트 위치 정보는 0 또는 0xFFFFFFFF 값을 가질 수 없습니다.  코드 파일을 "
                  "잘못 선택 하였습니다."}));
    std::string allOnes = dir.Write("ones.bin", CodeImage(20, 0x0001, 0xFFFFFFFF));
    CodeTrailer t = ReadCodeTrailer(allOnes);
    EXPECT_EQ(t.status, CodeTrailer::Status::BootInvalid);
    EXPECT_EQ(t.bootLocation, 0xFFFFFFFFu);

    // Exactly 20 bytes is the shortest file with a trailer.
    std::string shortest = dir.Write("twenty.bin", CodeImage(20, 0x0102, 0x12345678));
    t = ReadCodeTrailer(shortest);
    EXPECT_EQ(t.status, CodeTrailer::Status::Ok);
    EXPECT_EQ(t.version, 0x0102);
    EXPECT_EQ(t.bootLocation, 0x12345678u);
}

TEST(ImageChecks, FontFilesThatCannotBeReadAreRefused) {
    TempDir dir;
    const std::vector<std::string> paths = {dir.File("font1_0x10000.bin"), dir.path()};
    for (const std::string& path : paths) {
        SelectionResult r = SelectImageFile(ImageSlot::Font1, path, true);
        EXPECT_FALSE(r.selected) << path;
        ASSERT_EQ(r.log.size(), 2u);
        EXPECT_EQ(r.log.back().text, "파일을 읽을 수 없습니다:" + path);
        EXPECT_FALSE(r.addressText.has_value());
    }
    // An empty font file can be read: size 0 passes the 64 KiB rule.
    EXPECT_TRUE(SelectImageFile(ImageSlot::Font1, dir.Write("empty.bin", ""), true).selected);
}

TEST(ImageChecks, FontAddressFromFileName) {
    EXPECT_EQ(AddressFromFileName("/img/font2_0x10000.bin"), "0x10000");
    EXPECT_EQ(AddressFromFileName("C:\\IMG\\FONT2_0X10000.BIN"), "0x10000");
    EXPECT_EQ(AddressFromFileName("/img/font2_0x1F.x.bin"), "0x1f");
    EXPECT_EQ(AddressFromFileName("/img/font2.bin"), std::nullopt);
    EXPECT_EQ(AddressFromFileName("/img_0xAB/font2.bin"), "0xab");  // the folder counts too
    EXPECT_EQ(AddressFromFileName("/img/f_0x_0x20.bin"), "0x");     // the first tag counts
    EXPECT_EQ(AddressFromFileName("/img/f_0x" + std::string(40, '1') + ".bin"),
              "0x" + std::string(28, '1'));

    TempDir dir;
    std::string named = dir.Write("font2_0x10000.bin", std::string(65536, '\0'));
    std::string plain = dir.Write("font2.bin", std::string(65536, '\0'));
    ImageSlot slot;
    slot.addressText = "0x300";
    SelectionResult r = SelectImageFile(ImageSlot::Font2, named, true);
    ApplySelection(slot, r);
    EXPECT_TRUE(slot.selected);
    EXPECT_EQ(slot.path, named);
    EXPECT_FALSE(slot.fileTime.empty());
    EXPECT_EQ(slot.addressText, "0x10000");

    slot.addressText = "0x300";
    ApplySelection(slot, SelectImageFile(ImageSlot::Font2, plain, true));
    EXPECT_EQ(slot.addressText, "0x300");
    EXPECT_EQ(slot.path, plain);

    // A refused selection clears the slot and keeps the address.
    std::string odd = dir.Write("font3_0x20000.bin", std::string(3, '\0'));
    slot.progressMarker = SENT;
    ApplySelection(slot, SelectImageFile(ImageSlot::Font3, odd, true));
    EXPECT_FALSE(slot.selected);
    EXPECT_EQ(slot.path, "");
    EXPECT_EQ(slot.fileTime, "");
    EXPECT_EQ(slot.progressMarker, NOT_SENT);
    EXPECT_EQ(slot.addressText, "0x300");
}

TEST(ImageChecks, AddressPrefixOnExit) {
    EXPECT_EQ(AddressOnExit("10000", true), "0x10000");
    EXPECT_EQ(AddressOnExit("0X10000", true), "0X10000");
    EXPECT_EQ(AddressOnExit("0x1f", true), "0x1f");
    EXPECT_EQ(AddressOnExit("", true), "");
    EXPECT_EQ(AddressOnExit("10000", false), "10000");
    EXPECT_EQ(AddressOnExit(std::string(200, '1'), true), "0x" + std::string(200, '1'));
}

TEST(ImageChecks, ExpectedNameRule) {
    EXPECT_TRUE(ExpectedNameRule("", "font1.bin"));
    EXPECT_TRUE(ExpectedNameRule("/a/x.bin", ANY_FILE));
    EXPECT_TRUE(ExpectedNameRule("/a/Font1.Bin", "FONT1.BIN"));
    EXPECT_TRUE(ExpectedNameRule("/proj/main/x.bin", "MAIN"));  // directory part may match
    EXPECT_FALSE(ExpectedNameRule("/a/font2.bin", "font1.bin"));
    EXPECT_FALSE(ExpectedNameRule("/a/font1.bin", ""));
    EXPECT_TRUE(ExpectedNameRule("", ""));
}

}  // namespace
}  // namespace zembra

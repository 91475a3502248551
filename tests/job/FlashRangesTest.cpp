#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "job/FlashRanges.h"
#include "tests/support/TestSupport.h"

namespace zembra {
namespace {

// A code image of size bytes whose trailer gives version 0x1234 and the boot location.
std::string CodeImage(std::size_t size, std::uint32_t boot) {
    std::string bytes(size, '\xAB');
    bytes[size - 20] = 0x34;
    bytes[size - 19] = 0x12;
    for (int i = 0; i < 4; ++i) bytes[size - 16 + i] = static_cast<char>(boot >> (8 * i));
    return bytes;
}

TEST(FlashRanges, CodeFromBootLocationFontsAtTheirAddressAndOverlapsFound) {
    test::ScratchDir dir;
    DownloadJob job;
    job[ImageSlot::Code].path = dir.Write("code.bin", CodeImage(0x20000, 0x8000));
    job[ImageSlot::Font1].path = dir.Write("f1.bin", std::string(0x10000, 'a'));
    job[ImageSlot::Font1].addressText = "0x200000";
    job[ImageSlot::Font2].path = dir.Write("f2.bin", std::string(0x10000, 'b'));
    job[ImageSlot::Font2].addressText = "0x20FFFF";  // last byte of font 1 is shared
    job[ImageSlot::Font3].path = dir.File("missing.bin");
    job[ImageSlot::Font3].addressText = "0x0";

    std::vector<FlashRange> ranges = PlannedFlashRanges(job);
    ASSERT_EQ(ranges.size(), 3u);
    EXPECT_EQ(ranges[0].start, 0x8000u);
    EXPECT_EQ(ranges[0].end, 0x20000u);
    EXPECT_EQ(ranges[1].start, 0x200000u);
    EXPECT_EQ(ranges[1].end, 0x210000u);

    std::vector<std::string> problems = FlashRangeProblems(job);
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_EQ(problems[0],
              "폰트1 0x00200000~0x0020FFFF 영역이 폰트2 0x0020FFFF~0x0021FFFE 영역과 겹칩니다");

    // Adjacent ranges do not overlap; the code image sent whole (Change) starts at 0.
    job[ImageSlot::Font2].addressText = "0x210000";
    job.change = true;
    ranges = PlannedFlashRanges(job);
    EXPECT_EQ(ranges[0].start, 0u);
    EXPECT_TRUE(FlashRangeProblems(job).empty());
    job[ImageSlot::Font1].addressText = "0x10000";  // now inside the whole code image
    EXPECT_EQ(FlashRangeProblems(job).size(), 1u);
}

TEST(FlashRanges, RangesBeyondTheAddressSpaceAndImagesBeyondTheEraseLength) {
    test::ScratchDir dir;
    DownloadJob job;
    job[ImageSlot::Font1].path = dir.Write("f1.bin", std::string(0x20000, 'a'));
    job[ImageSlot::Font1].addressText = "0xFFFF0000";
    // A sparse file of 4 GiB + 64 KiB: its size does not fit the 32-bit erase length.
    std::string big = dir.File("big.bin");
    dir.Write("big.bin", "");
    ASSERT_EQ(::truncate(big.c_str(), 0x100010000LL), 0);
    job[ImageSlot::Font2].path = big;
    job[ImageSlot::Font2].addressText = "0x10000000";

    std::vector<std::string> problems = FlashRangeProblems(job);
    ASSERT_EQ(problems.size(), 3u);  // the big font also overlaps font 1
    EXPECT_NE(problems[1].find("폰트1 0xFFFF0000~0x10000FFFF 영역이 4GB 주소 공간을 넘습니다"),
              std::string::npos);
    EXPECT_EQ(problems[2], "폰트2 파일 크기 0x100010000가 삭제 요청 길이(32비트)보다 큽니다");
}

}  // namespace
}  // namespace zembra

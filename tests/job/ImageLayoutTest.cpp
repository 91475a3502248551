#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "job/ImageLayout.h"
#include "job/ImageSlot.h"

namespace zembra {
namespace {

// An anonymous temporary file holding bytes, closed with the object.
struct MemoryFile {
    std::FILE* file = std::tmpfile();
    explicit MemoryFile(const std::vector<std::uint8_t>& bytes) {
        std::fwrite(bytes.data(), 1, bytes.size(), file);
        std::fseek(file, 5, SEEK_SET);  // anywhere: the reader seeks itself
    }
    ~MemoryFile() { std::fclose(file); }
};

TEST(ImageLayout, TrailerIsReadFromTheEndAndNothingOutsideTheFile) {
    std::vector<std::uint8_t> image(64, 0xAA);
    const std::size_t t = image.size() - 20;
    image[t] = 0x34;
    image[t + 1] = 0x12;
    image[t + 4] = 0x00;
    image[t + 5] = 0x80;
    image[t + 6] = 0x01;
    image[t + 7] = 0x00;
    MemoryFile file(image);
    std::uint16_t version = 0;
    std::uint32_t boot = 0;
    ASSERT_TRUE(ReadImageTrailer(file.file, 64, version, boot));
    EXPECT_EQ(version, 0x1234);
    EXPECT_EQ(boot, 0x18000u);
    EXPECT_EQ(std::ftell(file.file), 0);  // back at the start for the block reads

    // Exactly a trailer long is enough; shorter is no trailer, as is a size the file does not
    // really have (it shrank).
    MemoryFile twenty(std::vector<std::uint8_t>(20, 0x01));
    EXPECT_TRUE(ReadImageTrailer(twenty.file, 20, version, boot));
    EXPECT_EQ(version, 0x0101);
    MemoryFile tooShort(std::vector<std::uint8_t>(19, 0x01));
    EXPECT_FALSE(ReadImageTrailer(tooShort.file, 19, version, boot));
    EXPECT_FALSE(ReadImageTrailer(twenty.file, 40, version, boot));
}

TEST(ImageLayout, BlockReadFillsPastTheEndAndRefusesMissingBytes) {
    MemoryFile file({1, 2, 3, 4, 5, 6});
    std::uint8_t out[8] = {};
    ASSERT_TRUE(ReadImageBlock(file.file, 4, out, 2, sizeof out));
    const std::uint8_t expected[8] = {5, 6, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    EXPECT_EQ(0, std::memcmp(out, expected, sizeof out));
    // Bytes the file does not hold (it shrank after its size was taken) are never made up.
    EXPECT_FALSE(ReadImageBlock(file.file, 4, out, 4, sizeof out));
}

TEST(ImageLayout, TransferRangeOfCodeAndFonts) {
    // The code image from its boot location to the same address.
    TransferRange r = ImageTransferRange(ImageSlot::Code, 0x20000, 0x8000, 0x999, false);
    EXPECT_EQ(r.startOffset, 0x8000);
    EXPECT_EQ(r.address, 0x8000u);
    EXPECT_EQ(r.length, 0x18000u);
    // With change: the whole file to address 0.
    r = ImageTransferRange(ImageSlot::Code, 0x20000, 0x8000, 0x999, true);
    EXPECT_EQ(r.startOffset, 0);
    EXPECT_EQ(r.address, 0u);
    EXPECT_EQ(r.length, 0x20000u);
    // A font: whole, to its own address, whatever its last bytes look like.
    for (bool change : {false, true}) {
        r = ImageTransferRange(ImageSlot::Font3, 0x10000, 0x8000, 0x400000, change);
        EXPECT_EQ(r.startOffset, 0);
        EXPECT_EQ(r.address, 0x400000u);
        EXPECT_EQ(r.length, 0x10000u);
    }
}

}  // namespace
}  // namespace zembra

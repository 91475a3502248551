#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "job/ImageChecks.h"
#include "tests/job/CodeImages.h"
#include "tests/support/TestSupport.h"

// Files that only POSIX systems have (FIFOs, devices, modes without read permission).

namespace zembra {
namespace {

using test::CodeImage;
using test::kVersionMessage;
using TempDir = test::ScratchDir;

// A file too short for a trailer is the wrong code file; one that cannot be read at all
// (missing, a folder, a FIFO, a device, no permission) is said to be unreadable.
TEST(ImageChecks, CodeFilesWithoutTrailerAreRefusedWithTheirReason) {
    TempDir dir;
    for (const std::string& path :
         {dir.Write("short.bin", std::string(19, '\x01')), dir.Write("empty.bin", "")}) {
        EXPECT_EQ(ReadCodeTrailer(path).status, CodeTrailer::Status::TooShort) << path;
        SelectionResult r = SelectImageFile(ImageSlot::Code, path, false);
        EXPECT_FALSE(r.selected) << path;
        ASSERT_FALSE(r.log.empty());
        EXPECT_EQ(r.log.back().text, kVersionMessage) << path;
        EXPECT_FALSE(r.version.has_value());
    }
    const std::string fifo = dir.File("fifo.bin");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    std::vector<std::string> unreadable = {dir.File("missing.bin"), dir.path(), fifo, "/dev/zero"};
    if (::geteuid() != 0) {  // root reads files without read permission
        std::string locked = dir.Write("locked.bin", CodeImage(64, 0x0001, 1));
        ::chmod(locked.c_str(), 0);
        unreadable.push_back(locked);
    }
    for (const std::string& path : unreadable) {
        EXPECT_EQ(ReadCodeTrailer(path).status, CodeTrailer::Status::Unreadable) << path;
        SelectionResult r = SelectImageFile(ImageSlot::Code, path, false);
        EXPECT_FALSE(r.selected) << path;
        ASSERT_FALSE(r.log.empty());
        EXPECT_EQ(r.log.back().text, "파일을 읽을 수 없습니다:" + path);
        EXPECT_FALSE(r.version.has_value());
    }
}

}  // namespace
}  // namespace zembra

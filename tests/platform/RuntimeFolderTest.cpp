// The per-user folder of the port aliases and the serial-device map ($XDG_RUNTIME_DIR/zembra
// here; /tmp/zembra-<uid> is run through the real programs in tests/e2e/RuntimeFolderTest):
// one that another account could have made or may write to is never read or written.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <string>

#include "platform/PortNames.h"
#include "platform/SerialDeviceMap.h"
#include "tests/support/TestSupport.h"

namespace zembra {
namespace {

class RuntimeFolderTest : public ::testing::Test {
  protected:
    void SetUp() override {
        for (const char* name : {"ZEMBRA_PORT_DIR", "ZEMBRA_SERIAL_MAP_DIR"}) unsetenv(name);
        setenv("XDG_RUNTIME_DIR", dir_.path().c_str(), 1);
        folder_ = dir_.File("zembra");
    }
    void TearDown() override { unsetenv("XDG_RUNTIME_DIR"); }

    // What another account planted: COM7 -> its device, a map entry naming COM7.
    void Plant() {
        std::filesystem::create_directories(folder_ + "/ports");
        std::filesystem::create_directories(folder_ + "/serialcomm");
        ASSERT_EQ(symlink("/dev/their-pty", (folder_ + "/ports/COM7").c_str()), 0);
        dir_.Write("zembra/serialcomm/%5CDevice%5Ctrelvic0", std::string("COM7\n"));
    }

    // Nothing of the folder is used, and each entry point says so.
    void ExpectRefused(const std::string& why) {
        EXPECT_NE(PortAliasFolderProblem().find("refusing the folder " + folder_),
                  std::string::npos);
        EXPECT_NE(PortAliasFolderProblem().find(why), std::string::npos)
            << PortAliasFolderProblem();
        EXPECT_EQ(SerialDeviceMapProblem(), PortAliasFolderProblem());
        EXPECT_EQ(ResolvePortDevice("COM7"), "");
        EXPECT_EQ(ResolvePortDevice("COM1"), "");  // no alias wanted, but one could be there
        EXPECT_EQ(ResolvePortDevice("/dev/ttyS0"), "/dev/ttyS0");
        EXPECT_FALSE(ReadSerialDeviceMap().has_value());
        errno = 0;
        EXPECT_FALSE(RegisterPortAlias("COM8", "/dev/ours"));
        EXPECT_EQ(errno, EACCES);
        EXPECT_FALSE(RegisterSerialDevice("\\Device\\trelvic1", "COM8"));
        EXPECT_FALSE(UnregisterPortAlias("COM7"));
        EXPECT_FALSE(UnregisterSerialDevice("\\Device\\trelvic0"));
        EXPECT_TRUE(std::filesystem::is_symlink(folder_ + "/ports/COM7"));
        EXPECT_FALSE(std::filesystem::exists(folder_ + "/ports/COM8"));
    }

    test::ScratchDir dir_{"runtime"};
    std::string folder_;
};

TEST_F(RuntimeFolderTest, MadeWithMode0700AndUsed) {
    const mode_t old = umask(0);  // the mode is the program's choice, not the umask's
    ASSERT_TRUE(RegisterPortAlias("COM7", "/dev/ours"));
    umask(old);
    struct stat st {};
    ASSERT_EQ(lstat(folder_.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0700u);
    EXPECT_EQ(PortAliasFolderProblem(), "");
    EXPECT_EQ(ResolvePortDevice("COM7"), "/dev/ours");
    ASSERT_TRUE(RegisterSerialDevice("\\Device\\trelvic0", "COM7"));
    EXPECT_EQ(ReadSerialDeviceMap()->size(), 1u);
}

TEST_F(RuntimeFolderTest, FolderOthersMayWriteToIsRefused) {
    Plant();
    for (mode_t mode : {0777, 0730, 0703}) {
        ASSERT_EQ(chmod(folder_.c_str(), mode), 0);
        SCOPED_TRACE(mode);
        ExpectRefused("other accounts may write to it");
    }
    // Mended by its owner: used again (read-only for others is fine).
    ASSERT_EQ(chmod(folder_.c_str(), 0755), 0);
    EXPECT_EQ(ResolvePortDevice("COM7"), "/dev/their-pty");
}

TEST_F(RuntimeFolderTest, FolderOfAnotherAccountOrALinkIsRefused) {
    Plant();
    ASSERT_EQ(chmod(folder_.c_str(), 0700), 0);
    if (geteuid() == 0) {
        ASSERT_EQ(chown(folder_.c_str(), geteuid() + 4242, static_cast<gid_t>(-1)), 0);
        ExpectRefused("belongs to another account (uid " + std::to_string(geteuid() + 4242));
        ASSERT_EQ(chown(folder_.c_str(), geteuid(), static_cast<gid_t>(-1)), 0);
    }
    // A link in its place, even to a private folder of this account.
    const std::string real = dir_.File("elsewhere");
    std::filesystem::rename(folder_, real);
    ASSERT_EQ(symlink(real.c_str(), folder_.c_str()), 0);
    ExpectRefused("it is not a folder");
}

TEST_F(RuntimeFolderTest, ExplicitFoldersAreTheUsersChoice) {
    Plant();
    ASSERT_EQ(chmod(folder_.c_str(), 0777), 0);
    setenv("ZEMBRA_PORT_DIR", (folder_ + "/ports").c_str(), 1);
    setenv("ZEMBRA_SERIAL_MAP_DIR", (folder_ + "/serialcomm").c_str(), 1);
    EXPECT_EQ(PortAliasFolderProblem(), "");
    EXPECT_EQ(ResolvePortDevice("COM7"), "/dev/their-pty");
    EXPECT_EQ(ReadSerialDeviceMap()->size(), 1u);
    unsetenv("ZEMBRA_PORT_DIR");
    unsetenv("ZEMBRA_SERIAL_MAP_DIR");
}

}  // namespace
}  // namespace zembra

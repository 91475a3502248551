#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "platform/PortNames.h"

namespace zembra {
namespace {

class PortNamesTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/zembra-portnames-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        root_ = pattern;
        folder_ = root_ + "/aliases/nested";
        setenv("ZEMBRA_PORT_DIR", folder_.c_str(), 1);
    }
    void TearDown() override {
        unsetenv("ZEMBRA_PORT_DIR");
        std::filesystem::remove_all(root_);
    }
    std::string root_;
    std::string folder_;
};

TEST_F(PortNamesTest, PortNumbersOfOperatorNames) {
    EXPECT_EQ(PortNumberOf("COM7"), 7);
    EXPECT_EQ(PortNumberOf("com12"), 12);
    EXPECT_EQ(PortNumberOf("\\\\.\\COM96"), 96);
    EXPECT_EQ(PortNumberOf("COM0"), 0);
    EXPECT_EQ(PortNumberOf("COM07"), 0);
    EXPECT_EQ(PortNumberOf("COM"), 0);
    EXPECT_EQ(PortNumberOf("COM7x"), 0);
    EXPECT_EQ(PortNumberOf("/dev/ttyS0"), 0);
    EXPECT_EQ(PortNumberOf("LPT1"), 0);
}

TEST_F(PortNamesTest, DefaultMappingWithoutAliases) {
    EXPECT_EQ(ResolvePortDevice("COM1"), "/dev/ttyS0");
    EXPECT_EQ(ResolvePortDevice("\\\\.\\COM32"), "/dev/ttyS31");
    EXPECT_EQ(ResolvePortDevice("COM33"), "/dev/ttyUSB0");
    EXPECT_EQ(ResolvePortDevice("COM64"), "/dev/ttyUSB31");
    EXPECT_EQ(ResolvePortDevice("COM65"), "/dev/ttyACM0");
    EXPECT_EQ(ResolvePortDevice("\\\\.\\COM96"), "/dev/ttyACM31");
    // Beyond the fixed ranges only an alias can name a device: the absent alias entry.
    EXPECT_EQ(ResolvePortDevice("COM97"), folder_ + "/COM97");
}

TEST_F(PortNamesTest, OtherTextPassesThroughWithoutDevicePrefix) {
    EXPECT_EQ(ResolvePortDevice("/dev/pts/4"), "/dev/pts/4");
    EXPECT_EQ(ResolvePortDevice("\\\\.\\/dev/pts/4"), "/dev/pts/4");
    EXPECT_EQ(ResolvePortDevice(""), "");
}

TEST_F(PortNamesTest, AliasesOverrideDefaultAndAreReplacedAndRemoved) {
    ASSERT_TRUE(RegisterPortAlias("COM7", "/dev/pts/9"));  // creates the nested folder
    EXPECT_EQ(ResolvePortDevice("COM7"), "/dev/pts/9");
    EXPECT_EQ(ResolvePortDevice("\\\\.\\com7"), "/dev/pts/9");

    ASSERT_TRUE(RegisterPortAlias("\\\\.\\COM7", "/dev/pts/10"));
    EXPECT_EQ(ResolvePortDevice("COM7"), "/dev/pts/10");
    // No temporary entries are left behind.
    int entries = 0;
    for (auto& e : std::filesystem::directory_iterator(folder_)) {
        (void)e;
        ++entries;
    }
    EXPECT_EQ(entries, 1);

    ASSERT_TRUE(RegisterPortAlias("COM200", "ttyX"));  // relative link: against the folder
    EXPECT_EQ(ResolvePortDevice("COM200"), folder_ + "/ttyX");

    ASSERT_TRUE(UnregisterPortAlias("COM7"));
    EXPECT_EQ(ResolvePortDevice("COM7"), "/dev/ttyS6");
    EXPECT_TRUE(UnregisterPortAlias("COM7"));  // absent: still success
}

TEST_F(PortNamesTest, RefusesNamesThatAreNotPorts) {
    errno = 0;
    EXPECT_FALSE(RegisterPortAlias("../evil", "/dev/null"));
    EXPECT_EQ(errno, EINVAL);
    EXPECT_FALSE(RegisterPortAlias("COM3", ""));
    EXPECT_FALSE(UnregisterPortAlias("nothing"));
}

TEST_F(PortNamesTest, FolderLocations) {
    EXPECT_EQ(PortAliasFolder(), folder_);
    unsetenv("ZEMBRA_PORT_DIR");
    const char* runtime = getenv("XDG_RUNTIME_DIR");
    if (runtime && *runtime) {
        EXPECT_EQ(PortAliasFolder(), std::string(runtime) + "/zembra/ports");
    } else {
        EXPECT_EQ(PortAliasFolder(), "/tmp/zembra-" + std::to_string(getuid()) + "/ports");
    }
}

}  // namespace
}  // namespace zembra

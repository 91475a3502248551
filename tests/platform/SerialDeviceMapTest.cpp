#include <gtest/gtest.h>
#include <stdlib.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <thread>

#include "platform/SerialDeviceMap.h"

namespace zembra {
namespace {

class SerialDeviceMapTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/zembra-devmap-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        root_ = pattern;
        folder_ = root_ + "/map";
        sysfs_ = root_ + "/sysfs";
        std::filesystem::create_directories(sysfs_);
        setenv("ZEMBRA_SERIAL_MAP_DIR", folder_.c_str(), 1);
        setenv("ZEMBRA_SYSFS_TTY_DIR", sysfs_.c_str(), 1);
    }
    void TearDown() override {
        unsetenv("ZEMBRA_SERIAL_MAP_DIR");
        unsetenv("ZEMBRA_SYSFS_TTY_DIR");
        std::filesystem::remove_all(root_);
    }
    std::string root_, folder_, sysfs_;
};

TEST_F(SerialDeviceMapTest, MissingFolderMeansTheKeyCannotBeOpened) {
    EXPECT_FALSE(ReadSerialDeviceMap().has_value());
    std::filesystem::create_directories(folder_);
    auto map = ReadSerialDeviceMap();
    ASSERT_TRUE(map.has_value());
    EXPECT_TRUE(map->empty());
}

TEST_F(SerialDeviceMapTest, RegisterReplaceUnregister) {
    ASSERT_TRUE(RegisterSerialDevice("\\Device\\trelvic3", "COM7"));
    ASSERT_TRUE(RegisterSerialDevice("\\Device\\trelvic0", "COM9"));
    auto map = ReadSerialDeviceMap();
    ASSERT_TRUE(map.has_value());
    ASSERT_EQ(map->size(), 2u);
    EXPECT_EQ((*map)[0].valueName, "\\Device\\trelvic0");
    EXPECT_EQ((*map)[0].portName, "COM9");
    EXPECT_EQ((*map)[1].valueName, "\\Device\\trelvic3");
    EXPECT_EQ((*map)[1].portName, "COM7");

    ASSERT_TRUE(RegisterSerialDevice("\\Device\\trelvic3", "COM8"));
    map = ReadSerialDeviceMap();
    ASSERT_EQ(map->size(), 2u);
    EXPECT_EQ((*map)[1].portName, "COM8");

    ASSERT_TRUE(UnregisterSerialDevice("\\Device\\trelvic3"));
    EXPECT_TRUE(UnregisterSerialDevice("\\Device\\trelvic3"));
    map = ReadSerialDeviceMap();
    ASSERT_EQ(map->size(), 1u);
    EXPECT_EQ((*map)[0].valueName, "\\Device\\trelvic0");
}

TEST_F(SerialDeviceMapTest, EmptyDataIsKeptAsEmpty) {
    ASSERT_TRUE(RegisterSerialDevice("\\Device\\trelvic1", ""));
    auto map = ReadSerialDeviceMap();
    ASSERT_EQ(map->size(), 1u);
    EXPECT_EQ((*map)[0].portName, "");
    EXPECT_FALSE(RegisterSerialDevice("\\Device\\trelvic1", "COM1\nCOM2"));
}

TEST_F(SerialDeviceMapTest, UserPlacedFilesAndUsbModems) {
    std::filesystem::create_directories(folder_);
    std::ofstream(folder_ + "/\\Device\\trelvic5") << "COM12\r\n";
    std::ofstream(folder_ + "/.hidden") << "COM1\n";
    std::filesystem::create_directories(sysfs_ + "/ttyACM2");
    std::filesystem::create_directories(sysfs_ + "/ttyS0");
    std::filesystem::create_directories(sysfs_ + "/ttyACMx");
    auto map = ReadSerialDeviceMap();
    ASSERT_TRUE(map.has_value());
    ASSERT_EQ(map->size(), 2u);
    EXPECT_EQ((*map)[0].valueName, "\\Device\\trelvic2");
    EXPECT_EQ((*map)[0].portName, "COM67");
    EXPECT_EQ((*map)[1].valueName, "\\Device\\trelvic5");
    EXPECT_EQ((*map)[1].portName, "COM12");
}

TEST_F(SerialDeviceMapTest, ReadersNeverSeeHalfAnEntry) {
    ASSERT_TRUE(RegisterSerialDevice("\\Device\\trelvic0", "COM100"));
    std::atomic<bool> stop{false};
    std::thread writer([&] {
        for (int i = 0; i < 100; ++i) {
            RegisterSerialDevice("\\Device\\trelvic0", i % 2 ? "COM100" : "COM200");
        }
        stop = true;
    });
    int reads = 0;
    while (!stop) {
        auto map = ReadSerialDeviceMap();
        ASSERT_TRUE(map.has_value());
        ASSERT_EQ(map->size(), 1u);
        const std::string& port = (*map)[0].portName;
        ASSERT_TRUE(port == "COM100" || port == "COM200") << port;
        ++reads;
    }
    writer.join();
    EXPECT_GT(reads, 0);
}

}  // namespace
}  // namespace zembra

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <thread>

#include "platform/PortLocation.h"
#include "platform/PortNames.h"
#include "platform/SerialDeviceMap.h"
#include "tests/support/UsbPorts.h"

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

// The USB port a tty is plugged into, from sysfs trees laid out as the kernel does: behind a
// hub, through a usb-serial port's own device, on a USB 3 hub's twin bus, and a tty that is no
// USB device.
TEST_F(SerialDeviceMapTest, LocationOfATtyIsItsUsbPort) {
    namespace fs = std::filesystem;
    const fs::path devices = root_ + "/devices";
    test::PlugTtyInto(sysfs_, devices, "ttyACM0", "1-1.4");
    EXPECT_EQ(UsbLocationOfTty(sysfs_, "ttyACM0"), "1-1.4");
    test::PlugTtyInto(sysfs_, devices, "ttyACM0", "1-2");  // plugged in elsewhere
    EXPECT_EQ(UsbLocationOfTty(sysfs_, "ttyACM0"), "1-2");

    // A usb-serial tty is a device below the interface.
    const fs::path serial = test::UsbDeviceFolder(devices, "1-1.2") / "1-1.2:1.0" / "ttyUSB0";
    fs::create_directories(serial);
    fs::create_directories(sysfs_ + "/ttyUSB0");
    fs::create_directory_symlink(serial, sysfs_ + "/ttyUSB0/device");
    EXPECT_EQ(UsbLocationOfTty(sysfs_, "ttyUSB0"), "1-1.2");

    // A USB 3 hub shows each port on two buses; the port's "peer" link names the twin, and
    // the lower bus names the place.
    test::PlugTtyInto(sysfs_, devices, "ttyACM1", "2-1.3");
    const fs::path usb3Port = test::UsbDeviceFolder(devices, "2-1") / "2-1:1.0" / "2-1-port3";
    const fs::path usb2Port = test::UsbDeviceFolder(devices, "1-1") / "1-1:1.0" / "1-1-port3";
    fs::create_directories(usb3Port);
    fs::create_directories(usb2Port);
    fs::create_directory_symlink(usb3Port, test::UsbDeviceFolder(devices, "2-1.3") / "port");
    fs::create_directory_symlink(usb2Port, usb3Port / "peer");
    EXPECT_EQ(UsbLocationOfTty(sysfs_, "ttyACM1"), "1-1.3");

    fs::create_directories(devices / "platform" / "serial8250" / "tty" / "ttyS0");
    fs::create_directories(sysfs_ + "/ttyS0");
    fs::create_directory_symlink(devices / "platform" / "serial8250", sysfs_ + "/ttyS0/device");
    EXPECT_EQ(UsbLocationOfTty(sysfs_, "ttyS0"), "");
    EXPECT_EQ(UsbLocationOfTty(sysfs_, "ttyACM9"), "");
}

// A port name through its alias to a pseudo-terminal, whose sysfs name is "pts!<n>".
TEST_F(SerialDeviceMapTest, LocationOfAPortName) {
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(grantpt(master), 0);
    ASSERT_EQ(unlockpt(master), 0);
    const std::string device = ptsname(master);
    setenv("ZEMBRA_PORT_DIR", (root_ + "/ports").c_str(), 1);
    ASSERT_TRUE(RegisterPortAlias("COM70", device));
    EXPECT_EQ(PortLocation("COM70"), "");
    test::PlugTtyInto(sysfs_, root_ + "/devices", test::SysfsTtyName(device), "3-2.1.4");
    EXPECT_EQ(PortLocation("COM70"), "3-2.1.4");
    EXPECT_EQ(PortLocation("COM71"), "");
    unsetenv("ZEMBRA_PORT_DIR");
    close(master);
}

// What Windows says of a port device, as recorded from USB modems.
TEST(WindowsPortLocation, FromLocationPathsElseLocationInformation) {
    EXPECT_EQ(WindowsPortLocation("PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(4)#USB(3)", ""),
              "PCIROOT(0)#PCI(1400)-4.3");
    EXPECT_EQ(WindowsPortLocation(std::string("PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(2)#USBMI(0)\0"
                                              "ACPI(_SB_)#ACPI(PCI0)#ACPI(XHC_)#ACPI(RHUB)",
                                              91),
                                  "Port_#0002.Hub_#0001"),
              "PCIROOT(0)#PCI(1400)-2");
    EXPECT_EQ(WindowsPortLocation("", "Port_#0004.Hub_#0003"), "Hub3-4");
    EXPECT_EQ(
        WindowsPortLocation("ACPI(_SB_)#ACPI(PCI0)", "0000.0014.0000.004.003.000.000.000.000"),
        "0000.0014.0000.004.003.000.000.000.000");
    EXPECT_EQ(WindowsPortLocation("", "Port_#00x4.Hub_#0003"), "Port_#00x4.Hub_#0003");
    EXPECT_EQ(WindowsPortLocation("", ""), "");
}

}  // namespace
}  // namespace zembra

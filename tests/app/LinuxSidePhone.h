#pragma once

// Windows: the window's download tests flash phones of the Linux side. The check starts
// zembra-phone-sim on pseudo-terminals that Wine shows as COM ports (USB phones at COM65 to
// COM72, a UART phone at COM3) and names in ZEMBRA_TEST_PHONES the folder (a Windows path)
// where they dump their flash after each reset jump (flash.COMn) and write their errors
// (errors.log, lines "COMn: error: ..."). A test takes a phone by its port; a USB phone is in
// the registry's serial-device map while the test holds it, as its driver would put it there.
// Phones of a kind (slow erase, another version, faults) have ports of their own, named by
// ZEMBRA_TEST_PHONE_KINDS ("kind=COMn,COMm kind=COMk"); a test puts such a phone into the
// map under the device number of the port it asks for, so that it takes that multi slot.

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/UserFolders.h"
#include "platform/win/WideText.h"
#include "sim/SimulatedPhone.h"
#include "tests/support/NativePath.h"

namespace zembra::test {

// The number n of the map value "\Device\trelvic<n>" of a phone at port, counted from COM65 as
// the phones' driver does.
inline int DeviceOfPort(const std::string& port) {
    return std::stoi(port.substr(3)) - 65;
}

// The nth port of the phones of a kind; empty (a failure) when there is none.
inline std::string KindPort(const std::string& kind, std::size_t nth) {
    const std::string kinds = EnvironmentValue("ZEMBRA_TEST_PHONE_KINDS");
    std::istringstream words(kinds);
    for (std::string word; words >> word;) {
        if (!word.starts_with(kind + "=")) continue;
        std::istringstream ports(word.substr(kind.size() + 1));
        std::string port;
        for (std::size_t i = 0; std::getline(ports, port, ','); ++i)
            if (i == nth) return port;
    }
    ADD_FAILURE() << "ZEMBRA_TEST_PHONE_KINDS (" << kinds << ") has no phone " << nth + 1
                  << " of the kind " << kind;
    return {};
}

class LinuxSidePhone {
  public:
    // device: the number of its map value (by default DeviceOfPort).
    LinuxSidePhone(std::string port, SimLink link, int device = -1)
        : port_(std::move(port)),
          device_(device >= 0 ? device : DeviceOfPort(port_)),
          folder_(EnvironmentValue("ZEMBRA_TEST_PHONES")),
          dump_(folder_ + "\\flash." + port_) {
        EXPECT_FALSE(folder_.empty()) << "ZEMBRA_TEST_PHONES names no phones' folder";
        // The dump of an earlier test's run must not pass for this one's.
        std::error_code ec;
        std::filesystem::remove(Native(dump_), ec);
        errorsBefore_ = ErrorLines().size();
        if (link == SimLink::Usb) SetMapValue(true);
    }
    ~LinuxSidePhone() {
        if (mapValue_.size()) SetMapValue(false);
    }
    LinuxSidePhone(const LinuxSidePhone&) = delete;
    LinuxSidePhone& operator=(const LinuxSidePhone&) = delete;

    const std::string& PortName() const { return port_; }

    // The flash as the phone dumped it after its reset jump (which follows its answer, so the
    // dump is waited for); 0xFF where nothing was written.
    std::vector<std::uint8_t> FlashRange(std::uint64_t address, std::size_t length) const {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        std::error_code ec;
        while (!std::filesystem::exists(Native(dump_), ec) &&
               std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        std::ifstream in(Native(dump_), std::ios::binary);
        const std::string bytes(std::istreambuf_iterator<char>(in), {});
        std::vector<std::uint8_t> range(length, 0xFF);
        for (std::size_t i = 0; i < length && address + i < bytes.size(); ++i)
            range[i] = static_cast<std::uint8_t>(bytes[address + i]);
        return range;
    }

    // The end of the flash written as of the last dump; 0 without a dump since the test took
    // the phone or cleared it (the phone dumps at its reset jump only).
    std::uint64_t FlashWrittenEnd() const {
        std::error_code ec;
        const auto size = std::filesystem::file_size(Native(dump_), ec);
        return ec ? 0 : size;
    }
    // Forgets the last dump (the phone keeps its flash: the next dump shows it whole).
    void ClearFlash() {
        std::error_code ec;
        std::filesystem::remove(Native(dump_), ec);
    }

    // The phone's errors since the test took it.
    std::vector<std::string> Errors() const {
        std::vector<std::string> lines = ErrorLines();
        lines.erase(lines.begin(), lines.begin() + static_cast<std::ptrdiff_t>(
                                                       std::min(errorsBefore_, lines.size())));
        return lines;
    }

  private:
    std::vector<std::string> ErrorLines() const {
        std::vector<std::string> lines;
        std::ifstream in(Native(folder_ + "\\errors.log"));
        const std::string prefix = port_ + ": error: ";
        for (std::string line; std::getline(in, line);)
            if (line.starts_with(prefix)) lines.push_back(line);
        return lines;
    }

    // "\Device\trelvic<device>" = port.
    void SetMapValue(bool present) {
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0,
                                  nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        mapValue_ = Utf8ToWide("\\Device\\trelvic" + std::to_string(device_));
        LSTATUS status;
        if (present) {
            const std::wstring data = Utf8ToWide(port_);
            status = RegSetValueExW(key, mapValue_.c_str(), 0, REG_SZ,
                                    reinterpret_cast<const BYTE*>(data.c_str()),
                                    static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t)));
        } else {
            status = RegDeleteValueW(key, mapValue_.c_str());
        }
        RegCloseKey(key);
        EXPECT_EQ(status, ERROR_SUCCESS) << port_;
    }

    std::string port_;
    int device_;
    std::string folder_, dump_;
    std::size_t errorsBefore_ = 0;
    std::wstring mapValue_;
};

}  // namespace zembra::test

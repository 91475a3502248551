#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/Console.h"
#include "platform/Helpers.h"
#include "platform/SerialDevice.h"
#include "platform/SerialDeviceMap.h"
#include "platform/WaitEvent.h"
#include "tests/support/NativePath.h"

// After the platform headers: its macros have the names of SerialDevice.h's constants.
#include <io.h>
#include <windows.h>

namespace zembra {
namespace {

const wchar_t kMapKey[] = L"HARDWARE\\DEVICEMAP\\SERIALCOMM";

// The registry key of the serial-device map, created for the test when it is absent and then
// removed again.
class MapKey {
  public:
    MapKey() {
        HKEY probe;
        existed_ = RegOpenKeyExW(HKEY_LOCAL_MACHINE, kMapKey, 0, KEY_READ, &probe) == ERROR_SUCCESS;
        if (existed_) RegCloseKey(probe);
        ok_ = RegCreateKeyExW(HKEY_LOCAL_MACHINE, kMapKey, 0, nullptr, REG_OPTION_VOLATILE,
                              KEY_ALL_ACCESS, nullptr, &key_, nullptr) == ERROR_SUCCESS;
    }
    ~MapKey() {
        if (!ok_) return;
        RegDeleteValueW(key_, L"\\Device\\trelvic6");
        RegDeleteValueW(key_, L"\\Device\\trelvic7");
        RegCloseKey(key_);
        if (!existed_) RegDeleteKeyW(HKEY_LOCAL_MACHINE, kMapKey);
    }
    bool ok() const { return ok_; }
    bool existed() const { return existed_; }
    void Text(const wchar_t* name, const wchar_t* data) {
        RegSetValueExW(key_, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(data),
                       static_cast<DWORD>((wcslen(data) + 1) * sizeof(wchar_t)));
    }
    void Number(const wchar_t* name, DWORD value) {
        RegSetValueExW(key_, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                       sizeof value);
    }

  private:
    HKEY key_{};
    bool existed_ = false;
    bool ok_ = false;
};

TEST(WindowsDeviceMap, ReadsTextValuesOfTheRegistryKeyAndSkipsOthers) {
    {
        MapKey key;
        ASSERT_TRUE(key.ok()) << "the test needs to write HKEY_LOCAL_MACHINE";
        key.Text(L"\\Device\\trelvic7", L"COM9");
        key.Number(L"\\Device\\trelvic6", 12);  // not text: no phone
        auto map = ReadSerialDeviceMap();
        ASSERT_TRUE(map.has_value());
        bool found = false;
        for (const auto& entry : *map) {
            EXPECT_NE(entry.valueName, "\\Device\\trelvic6");
            if (entry.valueName == "\\Device\\trelvic7") {
                EXPECT_EQ(entry.portName, "COM9");
                found = true;
            }
        }
        EXPECT_TRUE(found);
        if (key.existed()) return;
    }
    // The key removed again: the map cannot be opened.
    EXPECT_FALSE(ReadSerialDeviceMap().has_value());
}

// Under Wine (the test's own prefix) the key may be taken away for a moment: without it the
// map cannot be opened. Never on Windows itself, where drivers keep the key.
TEST(WindowsDeviceMap, MissingKeyCannotBeOpened) {
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    if (!ntdll || !GetProcAddress(ntdll, "wine_get_version")) GTEST_SKIP() << "not under Wine";
    HKEY key;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kMapKey, 0, KEY_ALL_ACCESS, &key), ERROR_SUCCESS);
    struct Value {
        std::wstring name;
        DWORD type;
        std::vector<BYTE> data;
    };
    std::vector<Value> saved;
    for (DWORD i = 0;; ++i) {
        wchar_t name[256];
        BYTE data[512];
        DWORD nameLength = 256, size = sizeof data, type = 0;
        if (RegEnumValueW(key, i, name, &nameLength, nullptr, &type, data, &size) != ERROR_SUCCESS)
            break;
        saved.push_back(
            {std::wstring(name, nameLength), type, std::vector<BYTE>(data, data + size)});
    }
    RegCloseKey(key);
    ASSERT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, kMapKey), ERROR_SUCCESS);
    EXPECT_FALSE(ReadSerialDeviceMap().has_value());
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, kMapKey, 0, nullptr, REG_OPTION_VOLATILE,
                              KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    for (const Value& v : saved)
        RegSetValueExW(key, v.name.c_str(), 0, v.type, v.data.data(),
                       static_cast<DWORD>(v.data.size()));
    RegCloseKey(key);
    EXPECT_TRUE(ReadSerialDeviceMap().has_value());
}

TEST(WindowsCodePage, Cp949AndUtf8BothWaysWithReplacements) {
    const std::string hangul = "\xED\x95\x9C\xEA\xB8\x80";  // "한글"
    const std::string cp949 = "\xC7\xD1\xB1\xDB";
    EXPECT_EQ(Utf8ToCp949("a " + hangul + "\r\n"), "a " + cp949 + "\r\n");
    EXPECT_EQ(Cp949ToUtf8("a " + cp949 + "\r\n"), "a " + hangul + "\r\n");
    // A byte that starts no CP949 character, and a lead byte cut off at the end.
    EXPECT_EQ(Cp949ToUtf8("x\xFFy\xC7"), "x\xEF\xBF\xBDy\xEF\xBF\xBD");
    // A character CP949 lacks (one "?" for the whole character) and a stray UTF-8 byte.
    EXPECT_EQ(Utf8ToCp949("\xF0\x9F\x98\x80|\xC3|"), "?|?|");
}

TEST(WindowsFiles, SizeTimeExistenceAndProgramPath) {
    const std::string path = test::ScratchRoot() + "zembra-win-files.bin";
    std::ofstream(test::Native(path), std::ios::binary) << std::string(70000, '\n');
    EXPECT_TRUE(FileExists(path));
    EXPECT_TRUE(IsReadableRegularFile(path));
    EXPECT_EQ(FileSizeOf(path), 70000);  // binary: no CR added
    const std::string when = FileTimeText(path);
    ASSERT_EQ(when.size(), 17u) << when;  // yy-mm-dd hh:nn:ss
    EXPECT_EQ(when[2], '-');
    EXPECT_EQ(when[8], ' ');
    EXPECT_EQ(when[14], ':');
    RemoveFile(path);
    EXPECT_FALSE(FileExists(path));
    EXPECT_EQ(FileTimeText(path), "");
    EXPECT_EQ(FileSizeOf(test::ScratchRoot()), 0);  // a folder
    EXPECT_FALSE(IsReadableRegularFile(test::ScratchRoot()));
    EXPECT_EQ(FileNameOnly(ProgramPath()), "test_platform.exe");
}

// Korean text reaches a console as characters whatever its code page (written as UTF-16, not
// as bytes the console would read in its code page); a console of its own is made for the
// test when the program has none.
TEST(WindowsConsole, KoreanTextReachesTheConsoleAsCharacters) {
    const auto newBuffer = [] {
        return CreateConsoleScreenBuffer(GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                         CONSOLE_TEXTMODE_BUFFER, nullptr);
    };
    HANDLE buffer = newBuffer();
    if (buffer == INVALID_HANDLE_VALUE && AllocConsole()) buffer = newBuffer();
    if (buffer == INVALID_HANDLE_VALUE) GTEST_SKIP() << "no console: " << GetLastError();
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(buffer), 0);
    ASSERT_GE(fd, 0);
    std::FILE* console = _fdopen(fd, "w");
    ASSERT_NE(console, nullptr);
    const UINT pageBefore = GetConsoleOutputCP();
    SetConsoleOutputCP(437);
    EXPECT_TRUE(IsTerminal(console));
    EXPECT_TRUE(WriteText(console, "코드 image 펌웨어"));
    wchar_t shown[16] = {};
    DWORD read = 0;
    ASSERT_TRUE(ReadConsoleOutputCharacterW(buffer, shown, 12, COORD{0, 0}, &read));
    SetConsoleOutputCP(pageBefore);
    std::fclose(console);
    EXPECT_EQ(std::wstring(shown, read), L"\uCF54\uB4DC image \uD38C\uC6E8\uC5B4");
}

TEST(WindowsSerialDevice, MissingPortAndNonPortGiveTheLinuxErrorNumbers) {
    SerialDevice device;
    errno = 0;
    EXPECT_FALSE(device.Open("\\\\.\\COM250"));
    EXPECT_EQ(errno, ENOENT);
    const std::string path = test::ScratchRoot() + "zembra-not-a-port";
    std::ofstream(test::Native(path)) << "x";
    EXPECT_FALSE(device.Open(path));
    EXPECT_EQ(errno, ENOTTY);
    RemoveFile(path);
    uint32_t events = 0;
    EXPECT_EQ(device.WaitCommEvent(events, -1), SerialWaitResult::Gone);
    EXPECT_EQ(errno, EBADF);
}

TEST(WindowsWaitEvent, ManualAndAutoReset) {
    const int manual = CreateWaitEvent(true, false);
    const int automatic = CreateWaitEvent(false, true);
    ASSERT_GE(manual, 0);
    ASSERT_GE(automatic, 0);
    EXPECT_EQ(WaitForWaitEvent(manual, true, 0), WaitEventResult::Timeout);
    ASSERT_TRUE(SignalWaitEvent(manual));
    EXPECT_EQ(WaitForWaitEvent(manual, true, 0), WaitEventResult::Signalled);
    EXPECT_EQ(WaitForWaitEvent(manual, true, 0), WaitEventResult::Signalled);
    ASSERT_TRUE(ResetWaitEvent(manual));
    EXPECT_EQ(WaitForWaitEvent(manual, true, 10), WaitEventResult::Timeout);
    EXPECT_EQ(WaitForWaitEvent(automatic, false, 0), WaitEventResult::Signalled);
    EXPECT_EQ(WaitForWaitEvent(automatic, false, 0), WaitEventResult::Timeout);
    CloseWaitEvent(manual);
    CloseWaitEvent(automatic);
}

volatile std::sig_atomic_t g_interrupts = 0;
void CountInterrupt(int) {
    g_interrupts = g_interrupts + 1;
}

// The C runtime resets a handler to the default on delivery: a second Ctrl-C must still
// reach the handler instead of ending the program.
TEST(WindowsInterrupt, HandlerStaysForEveryCtrlC) {
    struct sigaction action {};
    action.sa_handler = CountInterrupt;
    sigemptyset(&action.sa_mask);
    struct sigaction previous {};
    ASSERT_EQ(sigaction(SIGINT, &action, &previous), 0);
    std::raise(SIGINT);
    std::raise(SIGINT);
    std::raise(SIGINT);
    EXPECT_EQ(g_interrupts, 3);
    ASSERT_EQ(sigaction(SIGINT, &previous, nullptr), 0);
}

// A live COM port named by $ZEMBRA_TEST_PORT (scripts/test-windows.sh links one to the
// simulated phone's pseudo-terminal); skipped without one.
TEST(WindowsSerialDevice, LivePortRatesClaimLinesAndCancelledWait) {
    const char* port = std::getenv("ZEMBRA_TEST_PORT");
    if (!port || !*port) GTEST_SKIP() << "no ZEMBRA_TEST_PORT";
    const std::string path = std::string("\\\\.\\") + port;
    SerialDevice device;
    ASSERT_TRUE(device.Open(path)) << errno;

    SerialDevice second;  // the port is taken
    EXPECT_FALSE(second.Open(path));
    EXPECT_EQ(errno, EBUSY);

    SerialDcb dcb;
    ASSERT_TRUE(device.GetCommState(dcb));
    dcb.BaudRate = 115200;
    dcb.ByteSize = 8;
    ASSERT_TRUE(device.SetCommState(dcb));
    SerialDcb back;
    ASSERT_TRUE(device.GetCommState(back));
    EXPECT_EQ(back.BaudRate, 115200u);
    // 256000 is taken exactly or refused, never replaced by another rate.
    dcb.BaudRate = 256000;
    if (device.SetCommState(dcb)) {
        ASSERT_TRUE(device.GetCommState(back));
        EXPECT_EQ(back.BaudRate, 256000u);
    } else {
        EXPECT_EQ(errno, EINVAL);
    }

    EXPECT_TRUE(device.EscapeCommFunction(SETDTR));
    EXPECT_TRUE(device.EscapeCommFunction(CLRRTS));

    // The receive thread's wait ends when its cancel event is set, or at its time limit.
    ASSERT_TRUE(device.SetCommMask(EV_RXCHAR | EV_ERR));
    const int cancel = CreateWaitEvent(true, false);
    ASSERT_GE(cancel, 0);
    uint32_t none = 0;
    EXPECT_EQ(device.WaitCommEvent(none, cancel, 20), SerialWaitResult::Elapsed);
    std::atomic<bool> done{false};
    SerialWaitResult result = SerialWaitResult::Gone;
    std::thread waiter([&] {
        uint32_t events = 0;
        result = device.WaitCommEvent(events, cancel);
        done = true;
    });
    Sleep(100);
    EXPECT_FALSE(done.load());  // nothing arrived: still waiting
    ASSERT_TRUE(SignalWaitEvent(cancel));
    waiter.join();
    EXPECT_EQ(result, SerialWaitResult::Cancelled);
    CloseWaitEvent(cancel);
    device.Close(0);
    EXPECT_TRUE(second.Open(path));  // free again
}

}  // namespace
}  // namespace zembra

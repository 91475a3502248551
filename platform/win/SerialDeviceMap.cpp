#include "platform/SerialDeviceMap.h"

#include <windows.h>

#include <algorithm>

#include "platform/win/WideText.h"

// The serial-device map is the registry key HKEY_LOCAL_MACHINE\HARDWARE\DEVICEMAP\SERIALCOMM,
// read only: drivers and Windows keep it.

namespace zembra {

namespace {

const wchar_t kKeyPath[] = L"HARDWARE\\DEVICEMAP\\SERIALCOMM";

}  // namespace

std::string SerialDeviceMapFolder() {
    return "HKEY_LOCAL_MACHINE\\HARDWARE\\DEVICEMAP\\SERIALCOMM";
}

std::string SerialDeviceMapProblem() {
    return {};
}

std::optional<std::vector<SerialMapEntry>> ReadSerialDeviceMap() {
    HKEY key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kKeyPath, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return std::nullopt;
    DWORD maxName = 0, maxData = 0;
    if (RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                         &maxName, &maxData, nullptr, nullptr) != ERROR_SUCCESS) {
        RegCloseKey(key);
        return std::nullopt;
    }
    std::vector<SerialMapEntry> entries;
    std::vector<wchar_t> name(maxName + 1);
    std::vector<BYTE> data(maxData + sizeof(wchar_t));
    for (DWORD i = 0;; ++i) {
        DWORD nameLength = static_cast<DWORD>(name.size());
        DWORD dataSize = static_cast<DWORD>(data.size());
        DWORD type = 0;
        const LONG rc =
            RegEnumValueW(key, i, name.data(), &nameLength, nullptr, &type, data.data(), &dataSize);
        if (rc == ERROR_MORE_DATA) {
            // A value grew meanwhile: read the key's sizes again and take this index again.
            name.resize(name.size() * 2);
            data.resize(data.size() * 2);
            --i;
            continue;
        }
        if (rc != ERROR_SUCCESS) break;  // ERROR_NO_MORE_ITEMS, or the key went away
        if (type != REG_SZ) continue;    // not text: no phone
        const wchar_t* text = reinterpret_cast<const wchar_t*>(data.data());
        int length = static_cast<int>(dataSize / sizeof(wchar_t));
        while (length > 0 && text[length - 1] == L'\0') --length;
        entries.push_back({WideToUtf8(std::wstring(name.data(), nameLength)),
                           WideToUtf8(std::wstring(text, static_cast<std::size_t>(length)))});
    }
    RegCloseKey(key);
    std::sort(entries.begin(), entries.end(), [](const SerialMapEntry& a, const SerialMapEntry& b) {
        return a.valueName < b.valueName;
    });
    return entries;
}

}  // namespace zembra

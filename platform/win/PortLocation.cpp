#include "platform/PortLocation.h"

// clang-format off
#include <windows.h>
#include <initguid.h>
#include <devguid.h>
#include <devpkey.h>
#include <setupapi.h>
#include <cfgmgr32.h>
// clang-format on

#include <string>
#include <vector>

#include "platform/PortNames.h"

// The location of a COM port is read from the Plug and Play manager: the Ports class device
// whose "PortName" is the COM name, and its location paths or location information (the
// parent's, for a port device that has none of its own).

namespace zembra {

namespace {

std::string Utf8Of(const wchar_t* text, std::size_t length) {
    if (length == 0) return {};
    const int size = WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), nullptr, 0,
                                         nullptr, nullptr);
    std::string out(static_cast<std::size_t>(size > 0 ? size : 0), '\0');
    if (size > 0)
        WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), out.data(), size, nullptr,
                            nullptr);
    return out;
}

// A text or text-list property of a device node as UTF-8 (a list's entries joined by NUL);
// empty when the node has none.
std::string NodeProperty(DEVINST node, const DEVPROPKEY& key) {
    DEVPROPTYPE type = 0;
    ULONG size = 0;
    if (CM_Get_DevNode_PropertyW(node, &key, &type, nullptr, &size, 0) != CR_BUFFER_SMALL ||
        size < sizeof(wchar_t))
        return {};
    std::vector<wchar_t> text(size / sizeof(wchar_t) + 1, L'\0');
    if (CM_Get_DevNode_PropertyW(node, &key, &type, reinterpret_cast<PBYTE>(text.data()), &size,
                                 0) != CR_SUCCESS ||
        (type != DEVPROP_TYPE_STRING && type != DEVPROP_TYPE_STRING_LIST))
        return {};
    std::size_t length = size / sizeof(wchar_t);
    while (length > 0 && text[length - 1] == L'\0') --length;
    return Utf8Of(text.data(), length);
}

std::string NodeLocation(DEVINST node) {
    const std::string paths = NodeProperty(node, DEVPKEY_Device_LocationPaths);
    const std::string information = NodeProperty(node, DEVPKEY_Device_LocationInfo);
    return paths.empty() && information.empty() ? std::string()
                                                : WindowsPortLocation(paths, information);
}

// The "PortName" value of a Ports class device ("COM7"); empty when it has none.
std::string PortNameOf(HDEVINFO set, SP_DEVINFO_DATA& device) {
    HKEY key = SetupDiOpenDevRegKey(set, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_QUERY_VALUE);
    if (key == INVALID_HANDLE_VALUE) return {};
    wchar_t name[64] = {};
    DWORD size = sizeof name - sizeof(wchar_t);
    DWORD type = 0;
    const LONG status =
        RegQueryValueExW(key, L"PortName", nullptr, &type, reinterpret_cast<BYTE*>(name), &size);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS || type != REG_SZ) return {};
    std::size_t length = size / sizeof(wchar_t);
    while (length > 0 && name[length - 1] == L'\0') --length;
    return Utf8Of(name, length);
}

bool SameName(const std::string& a, const std::string& b) {
    return a.size() == b.size() &&
           CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, a.data(), static_cast<int>(a.size()),
                          b.data(), static_cast<int>(b.size())) == CSTR_EQUAL;
}

}  // namespace

std::string PortLocation(const std::string& portName) {
    const std::string wanted = PortDisplayName(portName);
    if (PortNumberOf(wanted) == 0) return {};
    HDEVINFO set = SetupDiGetClassDevsW(&GUID_DEVCLASS_PORTS, nullptr, nullptr, DIGCF_PRESENT);
    if (set == INVALID_HANDLE_VALUE) return {};
    std::string location;
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    for (DWORD i = 0; SetupDiEnumDeviceInfo(set, i, &device); ++i) {
        if (!SameName(PortNameOf(set, device), wanted)) continue;
        location = NodeLocation(device.DevInst);
        DEVINST parent = 0;
        if (location.empty() && CM_Get_Parent(&parent, device.DevInst, 0) == CR_SUCCESS)
            location = NodeLocation(parent);
        break;
    }
    SetupDiDestroyDeviceInfoList(set);
    return location;
}

}  // namespace zembra

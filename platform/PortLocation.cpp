#include "platform/PortLocation.h"

#include <climits>
#include <cstdlib>

#include "platform/PortNames.h"
#include "platform/SerialDeviceMap.h"

namespace zembra {

namespace {

std::string Canonical(const std::string& path) {
    char resolved[PATH_MAX];
    return realpath(path.c_str(), resolved) ? std::string(resolved) : std::string();
}

bool IsDigits(const std::string& text) {
    return !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
}

// A USB device's name: "<bus>-<port>[.<port>...]" ("1-1.4").
bool IsUsbDevice(const std::string& name) {
    const std::size_t dash = name.find('-');
    if (dash == std::string::npos || !IsDigits(name.substr(0, dash))) return false;
    std::size_t begin = dash + 1;
    for (;;) {
        const std::size_t dot = name.find('.', begin);
        if (!IsDigits(name.substr(begin, dot - begin))) return false;
        if (dot == std::string::npos) return true;
        begin = dot + 1;
    }
}

// One of a USB device's interfaces: "<device>:<configuration>.<interface>" ("1-1.4:1.0").
bool IsUsbInterface(const std::string& name) {
    const std::size_t colon = name.find(':');
    if (colon == std::string::npos || !IsUsbDevice(name.substr(0, colon))) return false;
    const std::string rest = name.substr(colon + 1);
    const std::size_t dot = rest.find('.');
    return dot != std::string::npos && IsDigits(rest.substr(0, dot)) &&
           IsDigits(rest.substr(dot + 1));
}

int BusOf(const std::string& location) {
    return std::atoi(location.c_str());
}

// The location of the twin of a USB device's hub port: its "port" link leads to the port,
// whose "peer" link leads to the same physical port on the other bus ("usb2-port3" of a root
// hub, "2-1-port3" of a hub). Empty when the port has no twin.
std::string TwinLocation(const std::string& deviceFolder) {
    const std::string peer = Canonical(deviceFolder + "/port/peer");
    const std::string name = peer.substr(peer.rfind('/') + 1);
    const std::size_t mark = name.rfind("-port");
    if (peer.empty() || mark == std::string::npos || !IsDigits(name.substr(mark + 5))) return {};
    const std::string hub = name.substr(0, mark), port = name.substr(mark + 5);
    if (hub.rfind("usb", 0) == 0 && IsDigits(hub.substr(3))) return hub.substr(3) + "-" + port;
    return IsUsbDevice(hub) ? hub + "." + port : std::string();
}

}  // namespace

std::string UsbLocationOfTty(const std::string& ttyFolder, const std::string& ttyName) {
    if (ttyName.empty() || ttyName.find('/') != std::string::npos) return {};
    std::string path = Canonical(ttyFolder + "/" + ttyName + "/device");
    while (path.size() > 1) {
        const std::size_t slash = path.rfind('/');
        const std::string name = path.substr(slash + 1);
        path.resize(slash);
        if (!IsUsbInterface(name)) continue;
        const std::string location = name.substr(0, name.find(':'));
        const std::string twin = TwinLocation(path);
        return !twin.empty() && BusOf(twin) < BusOf(location) ? twin : location;
    }
    return {};
}

std::string PortLocation(const std::string& portName) {
    const std::string device = ResolvePortDevice(portName);
    const std::string node = device.empty() ? std::string() : Canonical(device);
    if (node.rfind("/dev/", 0) != 0) return {};
    std::string ttyName = node.substr(5);
    for (char& c : ttyName)
        if (c == '/') c = '!';
    return UsbLocationOfTty(SysfsTtyFolder(), ttyName);
}

}  // namespace zembra

#include <cstdlib>
#include <vector>

#include "platform/PortLocation.h"

namespace zembra {

namespace {

std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::size_t begin = 0;
    for (;;) {
        const std::size_t end = text.find(separator, begin);
        parts.push_back(text.substr(begin, end - begin));
        if (end == std::string::npos) return parts;
        begin = end + 1;
    }
}

// The number n of "<name>(n)" (decimal digits), or -1.
long NumberIn(const std::string& segment, const std::string& name) {
    if (segment.size() < name.size() + 3 || segment.compare(0, name.size() + 1, name + "(") != 0 ||
        segment.back() != ')')
        return -1;
    const std::string digits = segment.substr(name.size() + 1, segment.size() - name.size() - 2);
    if (digits.empty() || digits.size() > 6 ||
        digits.find_first_not_of("0123456789") != std::string::npos)
        return -1;
    return std::strtol(digits.c_str(), nullptr, 10);
}

// "PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(4)#USB(3)#USBMI(0)" -> "PCIROOT(0)#PCI(1400)-4.3";
// empty when the path is not one of a USB device.
std::string FromLocationPath(const std::string& path) {
    const std::vector<std::string> segments = Split(path, '#');
    std::string controller;
    std::size_t i = 0;
    for (; i < segments.size() && NumberIn(segments[i], "USBROOT") < 0; ++i)
        controller += (controller.empty() ? "" : "#") + segments[i];
    std::string ports;
    for (++i; i < segments.size(); ++i) {
        const long port = NumberIn(segments[i], "USB");
        if (port < 0) break;  // USBMI(n): the interface of a composite device
        ports += (ports.empty() ? "" : ".") + std::to_string(port);
    }
    return ports.empty() ? std::string() : controller + "-" + ports;
}

// "Port_#0004.Hub_#0003" -> "Hub3-4"; empty for any other text.
std::string FromLocationInformation(const std::string& text) {
    const std::vector<std::string> parts = Split(text, '.');
    if (parts.size() != 2 || parts[0].rfind("Port_#", 0) != 0 || parts[1].rfind("Hub_#", 0) != 0)
        return {};
    const std::string port = parts[0].substr(6), hub = parts[1].substr(5);
    if (port.empty() || hub.empty() || port.size() > 6 || hub.size() > 6 ||
        (port + hub).find_first_not_of("0123456789") != std::string::npos)
        return {};
    return "Hub" + std::to_string(std::strtol(hub.c_str(), nullptr, 10)) + "-" +
           std::to_string(std::strtol(port.c_str(), nullptr, 10));
}

}  // namespace

std::string WindowsPortLocation(const std::string& locationPaths,
                                const std::string& locationInformation) {
    const std::string first = locationPaths.substr(0, locationPaths.find('\0'));
    if (std::string location = FromLocationPath(first); !location.empty()) return location;
    if (std::string location = FromLocationInformation(locationInformation); !location.empty())
        return location;
    return locationInformation;
}

}  // namespace zembra

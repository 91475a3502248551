#include <string>

#include "platform/Helpers.h"
#include "platform/PortNames.h"

namespace zembra {

namespace {
const char kPortPrefix[] = "\\\\.\\";  // \\.\ as in "\\.\COM7"
}  // namespace

std::string PortDisplayName(const std::string& portName) {
    if (portName.rfind(kPortPrefix, 0) == 0) return portName.substr(sizeof(kPortPrefix) - 1);
    return portName;
}

int PortNumberOf(const std::string& portName) {
    const std::string name = PortDisplayName(portName);
    if (name.size() < 4 || name.size() > 8) return 0;
    if (AsciiLower(name.substr(0, 3)) != "com" || name[3] == '0') return 0;
    int number = 0;
    for (size_t i = 3; i < name.size(); ++i) {
        if (name[i] < '0' || name[i] > '9') return 0;
        number = number * 10 + (name[i] - '0');
    }
    return number;
}

}  // namespace zembra

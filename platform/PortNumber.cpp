#include <string>

#include "platform/PortNames.h"

namespace zembra {

namespace {
const char kPortPrefix[] = "\\\\.\\";  // \\.\ as in "\\.\COM7"
}  // namespace

int PortNumberOf(const std::string& portName) {
    std::string name = portName;
    if (name.rfind(kPortPrefix, 0) == 0) name.erase(0, sizeof(kPortPrefix) - 1);
    if (name.size() < 4 || name.size() > 8) return 0;
    auto upper = [](char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; };
    if (upper(name[0]) != 'C' || upper(name[1]) != 'O' || upper(name[2]) != 'M') return 0;
    if (name[3] == '0') return 0;
    int number = 0;
    for (size_t i = 3; i < name.size(); ++i) {
        if (name[i] < '0' || name[i] > '9') return 0;
        number = number * 10 + (name[i] - '0');
    }
    return number;
}

}  // namespace zembra

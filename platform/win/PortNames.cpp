#include "platform/PortNames.h"

// Port names on Windows: a COM name opens the system's device "\\.\COMn" (the form that
// reaches COM10 and above too); any other text is taken as the device path it is.

namespace zembra {

std::string ResolvePortDevice(const std::string& portName) {
    const int number = PortNumberOf(portName);
    if (number == 0) return portName;
    return "\\\\.\\COM" + std::to_string(number);
}

std::string PortAliasFolderProblem() {
    return {};
}

}  // namespace zembra

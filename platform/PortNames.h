#pragma once

#include <string>

namespace zembra {

// Port names as operators see them ("COM7", "\\.\COM7") resolved to device nodes:
//  (1) the alias folder (PortAliasFolder()) whose entries COMn are symbolic links to a device,
//  (2) the fixed default COM1-32 -> /dev/ttyS0-31, COM33-64 -> /dev/ttyUSB0-31,
//      COM65-96 -> /dev/ttyACM0-31.
// Any other text (for example an absolute device path) is returned unchanged.
std::string ResolvePortDevice(const std::string& portName);

// Folder of port aliases: $ZEMBRA_PORT_DIR, else a default (see README).
std::string PortAliasFolder();

// Creates or replaces the alias portName -> devicePath atomically. False with errno on failure.
bool RegisterPortAlias(const std::string& portName, const std::string& devicePath);

// Removes the alias; removing an absent alias succeeds.
bool UnregisterPortAlias(const std::string& portName);

}  // namespace zembra

#pragma once

#include <string>

namespace zembra {

// Port names as operators see them ("COM7", "\\.\COM7") resolved to device nodes:
//  (1) the alias folder (PortAliasFolder()) whose entries COMn are symbolic links to a device,
//  (2) the fixed default COM1-32 -> /dev/ttyS0-31, COM33-64 -> /dev/ttyUSB0-31,
//      COM65-96 -> /dev/ttyACM0-31.
// A leading "\\.\" is removed first; any other text (for example an absolute device path,
// or "\\.\/dev/pts/3") is returned without it, otherwise unchanged. An alias that is a
// relative link resolves against the alias folder. COMn above 96 without an alias resolves
// to the (absent) alias entry, so that opening it fails with ENOENT.
// On Windows a COM name resolves to the system's "\\.\COMn" and other text stays as it is;
// the alias folder and the functions below that keep folders are Linux-only, except
// MakeFolders.
std::string ResolvePortDevice(const std::string& portName);

// Folder of port aliases: $ZEMBRA_PORT_DIR when set and not empty, else
// ZembraRuntimeFolder() + "/ports".
std::string PortAliasFolder();

// Per-user folder for the run-time state that Zembra's programs share (port aliases, the
// serial-device map): $XDG_RUNTIME_DIR/zembra when XDG_RUNTIME_DIR is set, else
// /tmp/zembra-<uid>.
std::string ZembraRuntimeFolder();

// The port number n of "COMn" or "\\.\COMn" (case-insensitive, n >= 1), or 0 for any other text.
int PortNumberOf(const std::string& portName);

// The name as operators write it: "\\.\COM7" -> "COM7"; any other name unchanged.
std::string PortDisplayName(const std::string& portName);

// Creates the folder and its missing parents (mode 0700). False with errno on failure.
bool MakeFolders(const std::string& path);

// The folder part of a file's path (before its last separator: "/", on Windows "\" too);
// empty when there is none or it is the root.
std::string ParentFolder(const std::string& path);

// A path for a new entry of folder that no other writer of it uses at the same time:
// "<folder>/.<stem>.tmp.<pid>.<n>" (a hidden name, never taken for an entry).
std::string TempEntryPath(const std::string& folder, const std::string& stem);

// Puts the finished entry temp in the place of path in one step (rename): readers see the old
// entry or the new one, never half of one. On failure temp is removed; false with errno.
bool ReplaceWithEntry(const std::string& temp, const std::string& path);

// Creates or replaces the alias portName -> devicePath atomically. False with errno on failure.
bool RegisterPortAlias(const std::string& portName, const std::string& devicePath);

// Removes the alias; removing an absent alias succeeds.
bool UnregisterPortAlias(const std::string& portName);

}  // namespace zembra

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
// to the (absent) alias entry, so that opening it fails with ENOENT. Every COM name resolves
// to an empty text while the alias folder is refused (PortAliasFolderProblem()).
// On Windows a COM name resolves to the system's "\\.\COMn" and other text stays as it is;
// the alias folder and the functions below that keep folders are Linux-only, except
// MakeFolders.
std::string ResolvePortDevice(const std::string& portName);

// Folder of port aliases: $ZEMBRA_PORT_DIR when set and not empty, else
// ZembraRuntimeFolder() + "/ports".
std::string PortAliasFolder();

// Why the alias folder is not used, as a sentence for a message; empty when it is used.
// The default folder follows RuntimeFolderProblem(); a folder that $ZEMBRA_PORT_DIR names is
// the user's own choice and taken as it is. While it is refused, ResolvePortDevice() gives an
// empty text for every COM name and the register functions fail (errno EACCES).
// On Windows there is no alias folder: always empty.
std::string PortAliasFolderProblem();

// Per-user folder for the run-time state that Zembra's programs share (port aliases, the
// serial-device map): $XDG_RUNTIME_DIR/zembra when XDG_RUNTIME_DIR is set, else
// /tmp/zembra-<uid>.
std::string ZembraRuntimeFolder();

// Why ZembraRuntimeFolder() must not be used, as a sentence for a message; empty when it may
// be (or does not exist yet). It must be a folder, not a link, that belongs to this account
// and that no other account may write to: in /tmp another account could make it first and
// point the port aliases at devices of its own, which would then receive the images.
std::string RuntimeFolderProblem();

// The folder that the environment variable names when it is set and not empty (the user's
// own choice), else ZembraRuntimeFolder() + "/" + leaf.
std::string RuntimeSubfolder(const char* variable, const char* leaf);

// RuntimeFolderProblem() when the folder is RuntimeSubfolder(variable, ...)'s default, empty
// when the variable names it.
std::string RuntimeSubfolderProblem(const char* variable);

// Creates RuntimeSubfolder(variable, leaf) for writing, mode 0700: for the default one the
// runtime folder first, which must then pass RuntimeFolderProblem() (else errno EACCES).
// False with errno on failure.
bool MakeRuntimeSubfolder(const char* variable, const char* leaf);

// The port number n of "COMn" or "\\.\COMn" (case-insensitive, n >= 1), or 0 for any other text.
int PortNumberOf(const std::string& portName);

// The name as operators write it: "\\.\COM7" -> "COM7"; any other name unchanged.
std::string PortDisplayName(const std::string& portName);

// Creates the folder and its missing parents (mode 0700). False with errno on failure.
bool MakeFolders(const std::string& path);

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

#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "platform/Helpers.h"

// The programs' own edges with the system: their arguments, the text they write to a console,
// whether a window can be shown.

namespace zembra {

// The program's arguments in UTF-8, the program's name first: argv on Linux; on Windows the
// command line as the system keeps it (UTF-16), so that a Korean path arrives whole whatever
// the ANSI code page is.
std::vector<std::string> ProgramArguments(int argc, char** argv);

// Writes UTF-8 text to the stream: on a Windows console as UTF-16 characters (whatever the
// console's code page), anywhere else as the bytes they are. ANSI colour sequences work on
// either. false when it could not be written.
bool WriteText(std::FILE* stream, const std::string& text);
// printf-style text through WriteText.
bool PrintText(std::FILE* stream, const char* format, ...) ZEMBRA_FORMAT_ATTRIBUTE(2, 3);

// Reads one line (with its end of line, when there is one) in UTF-8: from a Windows console as
// UTF-16 characters, else the bytes as they are. false at the end of the input.
bool ReadTextLine(std::FILE* stream, std::string& line);

// True when a window can be shown: on Linux when DISPLAY or WAYLAND_DISPLAY is set; a Windows
// session always has its desktop.
bool DisplayAvailable();

// What the debug trace notes of the system's text settings at its start: on Windows the ANSI
// and console code pages ("code page 949, console 949"); empty on Linux (all UTF-8).
std::string TextSettingsNote();

}  // namespace zembra

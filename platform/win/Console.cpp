#include "platform/Console.h"

#include <io.h>
#include <windows.h>

// After windows.h, which it needs.
#include <shellapi.h>

#include <algorithm>

#include "platform/win/WideText.h"

// The command line and the console in UTF-16, as Windows keeps them: the ANSI code page
// (1252, 949, ...) never comes between a Korean path or line and the program.

namespace zembra {

std::vector<std::string> ProgramArguments(int argc, char** argv) {
    int count = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (wide == nullptr) return std::vector<std::string>(argv, argv + argc);
    std::vector<std::string> arguments;
    for (int i = 0; i < count; ++i) arguments.push_back(WideToUtf8(wide[i]));
    LocalFree(wide);
    return arguments;
}

bool WriteText(std::FILE* stream, const std::string& text) {
    if (stream == nullptr) return false;
    const HANDLE console = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
    DWORD mode = 0;
    if (console == INVALID_HANDLE_VALUE || !GetConsoleMode(console, &mode))
        return std::fwrite(text.data(), 1, text.size(), stream) == text.size();
    // What went through the C runtime's buffer comes first.
    std::fflush(stream);
    // The colours and the progress line's redraw are ANSI sequences.
    if (!(mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING))
        SetConsoleMode(console, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
    const std::wstring wide = Utf8ToWide(text);
    for (std::size_t done = 0; done < wide.size();) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(wide.size() - done, 8192));
        DWORD written = 0;
        if (!WriteConsoleW(console, wide.data() + done, chunk, &written, nullptr) || written == 0)
            return false;
        done += written;
    }
    return true;
}

bool ReadTextLine(std::FILE* stream, std::string& line) {
    line.clear();
    const HANDLE console = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
    DWORD mode = 0;
    if (console == INVALID_HANDLE_VALUE || !GetConsoleMode(console, &mode)) {
        for (int c; (c = std::fgetc(stream)) != EOF;) {
            line += static_cast<char>(c);
            if (c == '\n') break;
        }
        return !line.empty();
    }
    std::wstring wide;
    wchar_t buffer[256];
    for (;;) {
        DWORD read = 0;
        if (!ReadConsoleW(console, buffer, 256, &read, nullptr) || read == 0) break;
        wide.append(buffer, read);
        if (wide.back() == L'\n') break;
    }
    line = WideToUtf8(wide);
    return !line.empty();
}

bool DisplayAvailable() {
    return true;
}

std::string TextSettingsNote() {
    return FormatText("ANSI code page %u, OEM code page %u", GetACP(), GetOEMCP());
}

}  // namespace zembra

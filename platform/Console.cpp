#include "platform/Console.h"

#include "platform/UserFolders.h"

namespace zembra {

std::vector<std::string> ProgramArguments(int argc, char** argv) {
    return std::vector<std::string>(argv, argv + argc);
}

bool WriteText(std::FILE* stream, const std::string& text) {
    return std::fwrite(text.data(), 1, text.size(), stream) == text.size();
}

bool ReadTextLine(std::FILE* stream, std::string& line) {
    line.clear();
    for (int c; (c = std::fgetc(stream)) != EOF;) {
        line += static_cast<char>(c);
        if (c == '\n') break;
    }
    return !line.empty();
}

bool DisplayAvailable() {
    return !EnvironmentValue("DISPLAY").empty() || !EnvironmentValue("WAYLAND_DISPLAY").empty();
}

std::string TextSettingsNote() {
    return {};
}

}  // namespace zembra

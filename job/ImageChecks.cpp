#include "job/ImageChecks.h"

#include "job/ImageSlot.h"

namespace zembra {

namespace {

std::string AsciiUpper(std::string text) {
    for (char& c : text)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return text;
}

}  // namespace

bool ExpectedNameRule(const std::string& path, const std::string& expectedName) {
    if (path.empty() || expectedName == ANY_FILE) return true;
    if (expectedName.empty()) return false;
    return AsciiUpper(path).find(AsciiUpper(expectedName)) != std::string::npos;
}

}  // namespace zembra

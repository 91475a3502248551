#include "platform/Helpers.h"

#include <sys/types.h>

#include <cctype>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace zembra {

std::tm UtcCalendarTime(std::time_t seconds) {
    std::tm utc{};
#ifdef _WIN32
    gmtime_s(&utc, &seconds);
#else
    gmtime_r(&seconds, &utc);
#endif
    return utc;
}

std::int64_t FilePosition(std::FILE* file) {
#ifdef _WIN32
    return _ftelli64(file);
#else
    return ftello(file);
#endif
}

bool SeekFile(std::FILE* file, std::int64_t offset) {
#ifdef _WIN32
    return _fseeki64(file, offset, SEEK_SET) == 0;
#else
    return fseeko(file, static_cast<off_t>(offset), SEEK_SET) == 0;
#endif
}

std::string ErrorNumberText(int errorNumber) {
    char buffer[256] = {};
#ifdef _WIN32
    return strerror_s(buffer, sizeof buffer, errorNumber) == 0 ? buffer : std::string();
#else
    // GNU strerror_r returns the text (possibly not in buffer).
    const char* text = strerror_r(errorNumber, buffer, sizeof buffer);
    return text ? std::string(text) : std::string();
#endif
}

double NowMs() {
    using namespace std::chrono;
    return duration<double, std::milli>(steady_clock::now().time_since_epoch()).count();
}

std::string FileNameOnly(const std::string& path) {
    std::size_t pos = path.find_last_of("/\\");
    return pos == std::string::npos ? path : path.substr(pos + 1);
}

std::string LocalFileName(const std::string& path) {
#ifdef _WIN32
    return FileNameOnly(path);
#else
    const std::size_t pos = path.rfind('/');
    return pos == std::string::npos ? path : path.substr(pos + 1);
#endif
}

std::string AsciiLower(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return text;
}

std::string ParentFolder(const std::string& path) {
    const std::size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos || slash == 0 ? std::string() : path.substr(0, slash);
}

bool IsAbsolutePath(const std::string& path) {
    if (!path.empty() && (path[0] == '/' || path[0] == '\\')) return true;
    return path.size() >= 3 && std::isalpha(static_cast<unsigned char>(path[0])) &&
           path[1] == ':' && (path[2] == '/' || path[2] == '\\');
}

// Built on the platform's file facts, the same on every system.
bool SameRegularFile(const std::string& a, const std::string& b) {
    if (PathKindOf(a) != PathKind::Regular || PathKindOf(b) != PathKind::Regular) return false;
    FileVersion va, vb;
    std::FILE* fa = OpenRegularFile(a);
    std::FILE* fb = OpenRegularFile(b);
    const bool known = FileVersionOf(fa, va) && FileVersionOf(fb, vb);
    if (fa != nullptr) std::fclose(fa);
    if (fb != nullptr) std::fclose(fb);
    return known && va.device == vb.device && va.fileNumber == vb.fileNumber;
}

bool IsReadableRegularFile(const std::string& path) {
    std::FILE* file = OpenRegularFile(path);
    if (file != nullptr) std::fclose(file);
    return file != nullptr;
}

std::uint64_t ParseWideNumber(const std::string& text) {
    constexpr std::uint64_t kMax = ~std::uint64_t{0};
    bool hex = text.size() >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const unsigned base = hex ? 16 : 10;
    std::uint64_t value = 0;
    for (std::size_t i = hex ? 2 : 0; i < text.size(); ++i) {
        char c = text[i];
        unsigned digit;
        if (c >= '0' && c <= '9')
            digit = static_cast<unsigned>(c - '0');
        else if (hex && c >= 'a' && c <= 'f')
            digit = static_cast<unsigned>(c - 'a' + 10);
        else if (hex && c >= 'A' && c <= 'F')
            digit = static_cast<unsigned>(c - 'A' + 10);
        else
            break;
        if (value > (kMax - digit) / base) return kMax;
        value = value * base + digit;
    }
    return value;
}

std::uint32_t ParseNumber(const std::string& text) {
    const std::uint64_t value = ParseWideNumber(text);
    return value > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<std::uint32_t>(value);
}

std::string FormatText(const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    int length = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::string out;
    if (length > 0) {
        out.resize(static_cast<std::size_t>(length) + 1);
        std::vsnprintf(out.data(), out.size(), format, args);
        out.resize(static_cast<std::size_t>(length));
    }
    va_end(args);
    return out;
}

std::string HexDump(const std::uint8_t* bytes, std::size_t count) {
    static const char digits[] = "0123456789ABCDEF";
    if (count > HEX_DUMP_MAX) count = HEX_DUMP_MAX;
    std::string out;
    out.reserve(count * 3);
    for (std::size_t i = 0; i < count; ++i) {
        out += digits[bytes[i] >> 4];
        out += digits[bytes[i] & 0x0F];
        out += ' ';
    }
    return out;
}

bool FitsCp949(const std::string& utf8) {
    return Cp949ToUtf8(Utf8ToCp949(utf8)) == utf8;
}

}  // namespace zembra

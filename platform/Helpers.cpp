#include "platform/Helpers.h"

#include <fcntl.h>
#include <iconv.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <ctime>
#include <vector>

namespace zembra {

double NowMs() {
    using namespace std::chrono;
    return duration<double, std::milli>(steady_clock::now().time_since_epoch()).count();
}

bool FileExists(const std::string& path) {
    struct stat st;
    return !path.empty() && ::lstat(path.c_str(), &st) == 0;
}

std::FILE* OpenRegularFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return nullptr;
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        errno = EINVAL;
        return nullptr;
    }
    std::FILE* file = ::fdopen(fd, "rb");
    if (file == nullptr) ::close(fd);
    return file;
}

bool IsReadableRegularFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return false;
    struct stat st;
    const bool regular = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    ::close(fd);
    return regular;
}

std::int64_t FileSizeOf(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return 0;
    struct stat st;
    std::int64_t size = 0;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) size = st.st_size;
    ::close(fd);
    return size;
}

std::string FileTimeText(const std::string& path) {
    struct stat st;
    if (path.empty() || ::stat(path.c_str(), &st) != 0) return {};
    std::tm local{};
    time_t t = st.st_mtime;
    if (!::localtime_r(&t, &local)) return {};
    char text[32];
    std::snprintf(text, sizeof text, "%02d-%02d-%02d %02d:%02d:%02d", local.tm_year % 100,
                  local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
    return text;
}

std::string ProgramPath() {
    std::vector<char> buffer(4096);
    ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (n <= 0 || static_cast<std::size_t>(n) >= buffer.size()) return {};
    return std::string(buffer.data(), static_cast<std::size_t>(n));
}

std::string FileNameOnly(const std::string& path) {
    std::size_t pos = path.find_last_of("/\\");
    return pos == std::string::npos ? path : path.substr(pos + 1);
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

namespace {

// Converts with iconv; on an invalid or unconvertible input sequence appends `replacement`,
// skips one input byte (or one whole UTF-8 character when skipUtf8Char) and goes on.
std::string Convert(const char* to, const char* from, const std::string& in,
                    const std::string& replacement, bool skipUtf8Char) {
    std::string out;
    if (in.empty()) return out;
    iconv_t cd = ::iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        // No converter: keep plain ASCII, replace everything else.
        for (unsigned char c : in)
            out += c < 0x80 ? std::string(1, static_cast<char>(c)) : replacement;
        return out;
    }
    std::vector<char> buffer(4096);
    char* inPtr = const_cast<char*>(in.data());
    std::size_t inLeft = in.size();
    while (inLeft > 0) {
        char* outPtr = buffer.data();
        std::size_t outLeft = buffer.size();
        std::size_t rc = ::iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
        out.append(buffer.data(), buffer.size() - outLeft);
        if (rc != static_cast<std::size_t>(-1)) continue;
        if (errno == E2BIG) continue;
        // EILSEQ (invalid or unconvertible) or EINVAL (incomplete sequence at the end).
        out += replacement;
        std::size_t skip = 1;
        if (skipUtf8Char) {
            unsigned char lead = static_cast<unsigned char>(*inPtr);
            std::size_t len = lead >= 0xF0 && lead < 0xF8   ? 4
                              : lead >= 0xE0 && lead < 0xF0 ? 3
                              : lead >= 0xC2 && lead < 0xE0 ? 2
                                                            : 1;
            // Skip a whole character only when its continuation bytes are all there.
            std::size_t ok = 1;
            while (ok < len && ok < inLeft &&
                   (static_cast<unsigned char>(inPtr[ok]) & 0xC0) == 0x80)
                ++ok;
            skip = ok == len ? len : 1;
        }
        inPtr += skip;
        inLeft -= skip;
        ::iconv(cd, nullptr, nullptr, nullptr, nullptr);  // reset the shift state
    }
    ::iconv_close(cd);
    return out;
}

}  // namespace

std::string Cp949ToUtf8(const std::string& cp949) {
    return Convert("UTF-8", "CP949", cp949, "\xEF\xBF\xBD", false);
}

std::string Utf8ToCp949(const std::string& utf8) {
    return Convert("CP949", "UTF-8", utf8, "?", true);
}

bool FitsCp949(const std::string& utf8) {
    return Cp949ToUtf8(Utf8ToCp949(utf8)) == utf8;
}

}  // namespace zembra

#include <iconv.h>

#include <cerrno>
#include <vector>

#include "platform/Helpers.h"

// CP949 <-> UTF-8 through glibc iconv.

namespace zembra {

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
        // glibc's CP949 decoder reports some invalid pairs after it has taken them: at the
        // end of the text nothing is left to skip.
        if (inLeft == 0) break;
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

}  // namespace zembra

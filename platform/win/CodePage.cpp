#include <windows.h>

#include "platform/Helpers.h"
#include "platform/win/WideText.h"

// CP949 <-> UTF-8 through the Win32 code-page functions, one character at a time so that a
// bad byte or an unmappable character is replaced alone.

namespace zembra {

namespace {

constexpr UINT kCp949 = 949;

// Length of the UTF-8 character at text[0], 0 when it is not a valid one.
size_t Utf8CharLength(const std::string& text, size_t at) {
    const unsigned char lead = static_cast<unsigned char>(text[at]);
    const size_t len = lead < 0x80                   ? 1
                       : lead >= 0xC2 && lead < 0xE0 ? 2
                       : lead >= 0xE0 && lead < 0xF0 ? 3
                       : lead >= 0xF0 && lead < 0xF5 ? 4
                                                     : 0;
    if (len == 0 || at + len > text.size()) return 0;
    for (size_t i = 1; i < len; ++i)
        if ((static_cast<unsigned char>(text[at + i]) & 0xC0) != 0x80) return 0;
    return len;
}

}  // namespace

std::string Cp949ToUtf8(const std::string& cp949) {
    std::string out;
    for (size_t i = 0; i < cp949.size();) {
        const unsigned char c = static_cast<unsigned char>(cp949[i]);
        if (c < 0x80) {
            out += static_cast<char>(c);
            ++i;
            continue;
        }
        const int len = IsDBCSLeadByteEx(kCp949, c) && i + 1 < cp949.size() ? 2 : 1;
        wchar_t wide[2];
        const int n =
            MultiByteToWideChar(kCp949, MB_ERR_INVALID_CHARS, cp949.data() + i, len, wide, 2);
        if (n > 0) {
            out += WideToUtf8(std::wstring(wide, static_cast<size_t>(n)));
            i += static_cast<size_t>(len);
        } else {
            out += "\xEF\xBF\xBD";
            ++i;
        }
    }
    return out;
}

std::string Utf8ToCp949(const std::string& utf8) {
    std::string out;
    for (size_t i = 0; i < utf8.size();) {
        const size_t len = Utf8CharLength(utf8, i);
        if (len == 0) {
            out += '?';
            ++i;
            continue;
        }
        if (len == 1) {
            out += utf8[i++];
            continue;
        }
        wchar_t wide[2];
        const int w = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data() + i,
                                          static_cast<int>(len), wide, 2);
        char bytes[4];
        BOOL usedDefault = FALSE;
        const int n = w > 0 ? WideCharToMultiByte(kCp949, WC_NO_BEST_FIT_CHARS, wide, w, bytes,
                                                  sizeof bytes, nullptr, &usedDefault)
                            : 0;
        if (n > 0 && !usedDefault)
            out.append(bytes, static_cast<size_t>(n));
        else
            out += '?';
        i += len;
    }
    return out;
}

}  // namespace zembra

#pragma once

#include <string>

// The one crossing between the program's UTF-8 text and the UTF-16 names Windows keeps: every
// path, environment value and console text goes through these at the system call and nowhere
// else.

namespace zembra {

// An invalid UTF-8 sequence becomes U+FFFD, an unpaired surrogate the same in the other way.
std::wstring Utf8ToWide(const std::string& utf8);
std::string WideToUtf8(const std::wstring& wide);
std::string WideToUtf8(const wchar_t* wide);

// The errno value nearest to a Win32 error code (GetLastError), EIO when there is none.
int ErrnoOfWin32(unsigned long error);

}  // namespace zembra

#pragma once

// Setting and clearing environment variables from a test, in UTF-8 on every system (on
// Windows through the C runtime's wide environment, which EnvironmentValue reads).

#include <stdlib.h>

#include <string>

#ifdef _WIN32
#include "platform/win/WideText.h"
#endif

namespace zembra::test {

inline void SetEnvironment(const char* name, const std::string& value) {
#ifdef _WIN32
    _wputenv_s(Utf8ToWide(name).c_str(), Utf8ToWide(value).c_str());
#else
    ::setenv(name, value.c_str(), 1);
#endif
}

inline void UnsetEnvironment(const char* name) {
#ifdef _WIN32
    _wputenv_s(Utf8ToWide(name).c_str(), L"");  // an empty value removes it
#else
    ::unsetenv(name);
#endif
}

}  // namespace zembra::test

#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/UserFolders.h"

// Scratch paths of the tests as the program keeps them: UTF-8 on every system. On Windows the
// temporary folder is read through the wide environment: under an account with a Korean name
// the narrow one (gtest's TempDir, GetTempPathA) gives bytes of the code page instead.

namespace zembra::test {

// The folder for scratch files, with a separator at its end.
inline std::string ScratchRoot() {
#ifdef _WIN32
    std::string folder = EnvironmentValue("TEMP");
    if (!folder.empty() && folder.back() != '\\' && folder.back() != '/') folder += '\\';
    return folder;
#else
    return ::testing::TempDir();
#endif
}

// A UTF-8 path as std::filesystem and the standard streams take it on every system.
inline std::filesystem::path Native(const std::string& utf8) {
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

}  // namespace zembra::test

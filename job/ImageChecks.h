#pragma once

#include <cstdint>
#include <string>

namespace zembra {

// Colours of the path field: the window text colour when the file matches, red otherwise.
inline constexpr std::uint32_t MISMATCH_COLOUR = 0x0000FF;

// True when the slot's file agrees with the loaded configuration: always with an empty path
// or the placeholder ANY_FILE; otherwise only when expectedName is not empty and the
// upper-case path contains the upper-case expectedName (the directory part may match too).
bool ExpectedNameRule(const std::string& path, const std::string& expectedName);

}  // namespace zembra

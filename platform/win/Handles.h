#pragma once

#include <windows.h>

#include <cstdint>

namespace zembra {

// A kernel object handle kept in an int (the events of platform/WaitEvent.h, a port's claim):
// kernel handles fit in 32 bits on 64-bit Windows too. -1 is none.
inline HANDLE HandleOfInt(int handle) {
    return handle < 0 ? nullptr : reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(handle));
}

inline int IntOfHandle(HANDLE event) {
    return static_cast<int>(reinterpret_cast<std::intptr_t>(event));
}

}  // namespace zembra

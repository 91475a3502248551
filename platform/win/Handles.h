#pragma once

#include <cstdint>

#include <windows.h>

namespace zembra {

// An event of platform/WaitEvent.h is its Win32 handle as an int: kernel handles fit in 32
// bits on 64-bit Windows too. -1 is no event.
inline HANDLE EventHandleOf(int handle) {
    return handle < 0 ? nullptr : reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(handle));
}

inline int EventIntOf(HANDLE event) {
    return static_cast<int>(reinterpret_cast<std::intptr_t>(event));
}

}  // namespace zembra

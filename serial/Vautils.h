#pragma once

#include <cstdint>
#include <string>

namespace zembra {

// Milliseconds of a monotonic clock, as a 32-bit tick count that wraps.
uint32_t GetTickCount();

// Waits ms milliseconds; when processMessages is set, runs the main thread's queued work on
// each pass (only when called on the main thread of a loop that can do so).
void SysDelay(uint32_t ms, bool processMessages);

// A time-out: start tick and length, expiry handling the 32-bit wrap of the tick count.
struct TVaTimer {
    uint32_t Start = 0;
    uint32_t Length = 0;
};
void InitTimer(TVaTimer& timer, uint32_t ms);
bool TimerExpired(const TVaTimer& timer);
// Expiry at a given tick count.
bool TimerExpiredAt(const TVaTimer& timer, uint32_t now);

// Opens "COM<n>" (through the port names) and closes it again: 1 when it could be opened,
// 2 when the device does not exist, 0 otherwise (busy, not a tty, no access).
int GetPortState(int n);

// Each "^" followed by a letter becomes that letter's control character (upper case - 64);
// any other pair is kept as written.
std::string StrCtrl(const std::string& text);
// c, or a blank for character 0.
char CN(char c);
// True when any bit of mask is set in value / when none is.
bool BitOn(uint32_t mask, uint32_t value);
bool BitOff(uint32_t mask, uint32_t value);

template <typename T>
void FreeObject(T*& p) {
    delete p;
    p = nullptr;
}

}  // namespace zembra

#include "serial/Vautils.h"

#include <cerrno>
#include <chrono>
#include <thread>

#include "platform/MainThread.h"
#include "platform/PortNames.h"
#include "platform/SerialDevice.h"

namespace zembra {

uint32_t GetTickCount() {
    using namespace std::chrono;
    return static_cast<uint32_t>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

void SysDelay(uint32_t ms, bool processMessages) {
    MainThread* mainThread = processMessages ? ProcessMainThread() : nullptr;
    if (mainThread != nullptr) {
        // The main thread keeps pumping (the window's events, the receive handlers) meanwhile.
        mainThread->ServeUntil([] { return false; }, std::chrono::milliseconds(ms));
        return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

void InitTimer(TVaTimer& timer, uint32_t ms) {
    timer.Start = GetTickCount();
    timer.Length = ms;
}

bool TimerExpired(const TVaTimer& timer) {
    return TimerExpiredAt(timer, GetTickCount());
}

bool TimerExpiredAt(const TVaTimer& timer, uint32_t now) {
    return static_cast<uint32_t>(now - timer.Start) >= timer.Length;
}

int GetPortState(int n) {
    SerialDevice device;
    if (device.Open(ResolvePortDevice("COM" + std::to_string(n)))) {
        device.Close(0);
        return 1;
    }
    if (errno == ENOENT || errno == ENXIO || errno == ENODEV) return 2;
    return 0;
}

std::string StrCtrl(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '^' && i + 1 < text.size()) {
            char c = text[i + 1];
            if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
            if (c >= 'A' && c <= 'Z') {
                out += static_cast<char>(c - 64);
            } else {
                out += text[i];
                out += text[i + 1];
            }
            ++i;
        } else {
            out += text[i];
        }
    }
    return out;
}

char CN(char c) {
    return c == 0 ? ' ' : c;
}

bool BitOn(uint32_t mask, uint32_t value) {
    return (value & mask) != 0;
}

bool BitOff(uint32_t mask, uint32_t value) {
    return (value & mask) == 0;
}

}  // namespace zembra

#include "platform/OperatorInput.h"

#include <windows.h>

namespace zembra {

namespace {

// A console: the key presses that came (Enter or Esc is a skip), other input events dropped.
OperatorKey ConsoleKey(HANDLE input) {
    INPUT_RECORD records[32];
    DWORD count = 0;
    if (!ReadConsoleInputW(input, records, 32, &count)) return OperatorKey::Closed;
    for (DWORD i = 0; i < count; ++i) {
        const KEY_EVENT_RECORD& key = records[i].Event.KeyEvent;
        if (records[i].EventType == KEY_EVENT && key.bKeyDown &&
            (key.wVirtualKeyCode == VK_RETURN || key.wVirtualKeyCode == VK_ESCAPE))
            return OperatorKey::Skip;
    }
    return OperatorKey::None;
}

// A pipe or a file: the bytes there (a line end or Esc is a skip).
OperatorKey StreamKey(HANDLE input, int timeoutMs) {
    DWORD available = 0;
    const bool pipe = GetFileType(input) == FILE_TYPE_PIPE;
    if (pipe && !PeekNamedPipe(input, nullptr, 0, nullptr, &available, nullptr))
        return OperatorKey::Closed;
    if (pipe && available == 0) {
        Sleep(static_cast<DWORD>(timeoutMs));
        return OperatorKey::None;
    }
    char bytes[256];
    DWORD n = 0;
    if (!ReadFile(input, bytes, pipe && available < sizeof bytes ? available : sizeof bytes, &n,
                  nullptr) ||
        n == 0)
        return OperatorKey::Closed;
    for (DWORD i = 0; i < n; ++i)
        if (bytes[i] == '\n' || bytes[i] == '\r' || bytes[i] == 0x1B) return OperatorKey::Skip;
    return OperatorKey::None;
}

}  // namespace

OperatorKey WaitForOperatorKey(int timeoutMs) {
    HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    if (input == nullptr || input == INVALID_HANDLE_VALUE) return OperatorKey::Closed;
    if (GetFileType(input) != FILE_TYPE_CHAR) return StreamKey(input, timeoutMs);
    if (WaitForSingleObject(input, static_cast<DWORD>(timeoutMs)) != WAIT_OBJECT_0)
        return OperatorKey::None;
    return ConsoleKey(input);
}

}  // namespace zembra

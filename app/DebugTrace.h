#pragma once

#include <string>

namespace zembra {

// The debug trace switch of the hidden menu, as the engines' trace points read it. Qt-free
// so that the bridge can take it without knowing the window; the hidden menu's check boxes
// are the only place the values live (TOKBottomDlgSMode::TraceOptions reads them).
struct DebugTraceOptions {
    bool enabled = false;    // CheckBoxFileDebug ticked: every trace point writes a line
    bool writeData = false;  // CheckBoxDebugWriteInfo: write lines also carry the bytes
    std::string fileName;    // debugFileName: the file chosen when the trace was switched on
};

// Default name offered by the trace file's save dialog.
inline constexpr char DEFAULT_DEBUG_FILE_NAME[] = "Debug.TXT";

}  // namespace zembra

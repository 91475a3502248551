#include "serial/Vaprst.h"

namespace zembra {

void TVaBuffers::Assign(const TVaBuffers& source) {
    BeginUpdate();
    SetReadSize(source.ReadSize());
    SetWriteSize(source.WriteSize());
    SetReadTimeout(source.ReadTimeout());
    SetWriteTimeout(source.WriteTimeout());
    EndUpdate();
}

void TVaEventChars::Assign(const TVaEventChars& source) {
    BeginUpdate();
    SetXonChar(source.XonChar());
    SetXoffChar(source.XoffChar());
    SetErrorChar(source.ErrorChar());
    SetEventChar(source.EventChar());
    EndUpdate();
}

}  // namespace zembra

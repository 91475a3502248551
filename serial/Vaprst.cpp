#include "serial/Vaprst.h"

namespace zembra {

void TVaBuffers::SetReadSize(int value) {
    if (value == readSize_) return;
    readSize_ = value;
    Changed();
}

void TVaBuffers::SetWriteSize(int value) {
    if (value == writeSize_) return;
    writeSize_ = value;
    Changed();
}

void TVaBuffers::Assign(const TVaBuffers& source) {
    BeginUpdate();
    SetReadSize(source.ReadSize());
    SetWriteSize(source.WriteSize());
    SetReadTimeout(source.ReadTimeout());
    SetWriteTimeout(source.WriteTimeout());
    EndUpdate();
}

void TVaEventChars::SetXonChar(char c) {
    xonChar_ = c;
    Changed();
}

void TVaEventChars::SetXoffChar(char c) {
    xoffChar_ = c;
    Changed();
}

void TVaEventChars::SetErrorChar(char c) {
    errorChar_ = c;
    Changed();
}

void TVaEventChars::SetEventChar(char c) {
    eventChar_ = c;
    Changed();
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

#pragma once

#include <cstdint>

#include "serial/Vaclasses.h"

namespace zembra {

// Driver queue sizes and the bounded waits of reads and writes.
class TVaBuffers : public TVaPersistent {
  public:
    int ReadSize() const { return readSize_; }
    int WriteSize() const { return writeSize_; }
    uint32_t ReadTimeout() const { return readTimeout_; }
    uint32_t WriteTimeout() const { return writeTimeout_; }
    void SetReadSize(int value) { SetSize(readSize_, value); }
    void SetWriteSize(int value) { SetSize(writeSize_, value); }
    void SetReadTimeout(uint32_t ms) { readTimeout_ = ms; }
    void SetWriteTimeout(uint32_t ms) { writeTimeout_ = ms; }
    void Assign(const TVaBuffers& source);

  private:
    // A different value calls Changed.
    void SetSize(int& field, int value) {
        if (value == field) return;
        field = value;
        Changed();
    }

    int readSize_ = 4096;
    int writeSize_ = 2048;
    uint32_t readTimeout_ = 1000;
    uint32_t writeTimeout_ = 1000;
};

// The four special characters of the line.
class TVaEventChars : public TVaPersistent {
  public:
    char XonChar() const { return xonChar_; }
    char XoffChar() const { return xoffChar_; }
    char ErrorChar() const { return errorChar_; }
    char EventChar() const { return eventChar_; }
    void SetXonChar(char c) { SetChar(xonChar_, c); }
    void SetXoffChar(char c) { SetChar(xoffChar_, c); }
    void SetErrorChar(char c) { SetChar(errorChar_, c); }
    void SetEventChar(char c) { SetChar(eventChar_, c); }
    void Assign(const TVaEventChars& source);

  private:
    // Every setter calls Changed.
    void SetChar(char& field, char c) {
        field = c;
        Changed();
    }

    char xonChar_ = 17;
    char xoffChar_ = 19;
    char errorChar_ = 0;
    char eventChar_ = 0;
};

}  // namespace zembra

#pragma once

#include <vector>

#include "serial/Vacomm.h"

namespace zembra {

// Ring buffer that stores what its port receives (attach it with SetComm).
// Used bytes are Size when the full flag is set, otherwise (write index - read index)
// modulo Size. Writes are all or nothing.
class TVaBuffer : public TVaCommComponent {
  public:
    TVaBuffer();
    ~TVaBuffer() override;

    int Size() const { return size_; }
    // A different size clears the buffer and reallocates it. Negative sizes are refused
    // (std::invalid_argument).
    void SetSize(int n);
    void Clear();
    int BufUsed() const;
    int BufFree() const { return size_ - BufUsed(); }
    // Copies the n oldest bytes without removing them; false when n < 1 or fewer are stored.
    bool Peek(void* dest, int n) const;
    // Drops the n oldest bytes; false when fewer are stored (or n < 0). No notification.
    bool Remove(int n);
    bool Read(void* dest, int n);
    // Stores all n bytes or none: OnOverflow and false when n < 1 or they do not fit.
    bool Write(const void* src, int n);

    TNotifyEvent OnChange;
    TNotifyEvent OnOverflow;

    // Indexes (for checks).
    int ReadIndex() const { return readIndex_; }
    int WriteIndex() const { return writeIndex_; }
    bool Full() const { return full_; }

  protected:
    void DataChanged(PVaData data, int count) override;
    virtual void Changed();

  private:
    int size_ = 0;
    std::vector<uint8_t> storage_;
    int readIndex_ = 0;
    int writeIndex_ = 0;
    bool full_ = false;
};

}  // namespace zembra

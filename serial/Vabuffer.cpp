#include "serial/Vabuffer.h"

#include <cstring>
#include <stdexcept>

namespace zembra {

TVaBuffer::TVaBuffer() {
    SetSize(2048);
}

TVaBuffer::~TVaBuffer() {
    SetSize(0);
}

void TVaBuffer::SetSize(int n) {
    if (n == size_) return;
    if (n < 0) throw std::invalid_argument("TVaBuffer size must not be negative");
    Clear();
    storage_.assign(static_cast<size_t>(n), 0);
    storage_.shrink_to_fit();
    size_ = n;
}

void TVaBuffer::Clear() {
    readIndex_ = 0;
    writeIndex_ = 0;
    full_ = false;
    Changed();
}

int TVaBuffer::BufUsed() const {
    if (full_) return size_;
    if (size_ == 0) return 0;
    int used = (writeIndex_ - readIndex_) % size_;
    return used < 0 ? used + size_ : used;
}

bool TVaBuffer::Peek(void* dest, int n) const {
    if (n < 1 || BufUsed() < n) return false;
    auto* out = static_cast<uint8_t*>(dest);
    const int first = size_ - readIndex_ < n ? size_ - readIndex_ : n;
    std::memcpy(out, storage_.data() + readIndex_, static_cast<size_t>(first));
    if (first < n) std::memcpy(out + first, storage_.data(), static_cast<size_t>(n - first));
    return true;
}

bool TVaBuffer::Remove(int n) {
    if (n < 0 || BufUsed() < n) return false;
    readIndex_ += n;
    if (readIndex_ >= size_ && size_ > 0) readIndex_ -= size_;
    if (n > 0) full_ = false;
    return true;
}

bool TVaBuffer::Read(void* dest, int n) {
    const bool ok = Peek(dest, n);
    if (ok) {
        Remove(n);
        Changed();
    }
    return ok;
}

bool TVaBuffer::Write(const void* src, int n) {
    if (n < 1 || BufFree() < n) {
        if (OnOverflow) {
            TNotifyEvent handler = OnOverflow;
            handler(this);
        }
        return false;
    }
    const auto* in = static_cast<const uint8_t*>(src);
    const int first = size_ - writeIndex_ < n ? size_ - writeIndex_ : n;
    std::memcpy(storage_.data() + writeIndex_, in, static_cast<size_t>(first));
    if (first < n) std::memcpy(storage_.data(), in + first, static_cast<size_t>(n - first));
    writeIndex_ += n;
    if (writeIndex_ >= size_) writeIndex_ -= size_;
    full_ = writeIndex_ == readIndex_;
    Changed();
    return true;
}

void TVaBuffer::DataChanged(PVaData data, int count) {
    if (count > 0) Write(data, count);
}

void TVaBuffer::Changed() {
    if (OnChange) {
        TNotifyEvent handler = OnChange;
        handler(this);
    }
}

}  // namespace zembra

#include "sim/SparseFlash.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace zembra {

SparseFlash::Page& SparseFlash::PageAt(std::uint64_t index) {
    auto& slot = pages_[index];
    if (!slot) {
        slot = std::make_unique<Page>();
        slot->fill(0xFF);
    }
    return *slot;
}

std::vector<std::uint8_t> SparseFlash::Read(std::uint64_t address, std::size_t length) const {
    std::vector<std::uint8_t> out(length, 0xFF);
    std::size_t done = 0;
    while (done < length) {
        const std::uint64_t at = address + done;
        const std::uint64_t index = at / kPageSize;
        const std::size_t inPage = static_cast<std::size_t>(at % kPageSize);
        const std::size_t n = std::min<std::size_t>(length - done, kPageSize - inPage);
        auto it = pages_.find(index);
        if (it != pages_.end()) std::memcpy(out.data() + done, it->second->data() + inPage, n);
        done += n;
    }
    return out;
}

void SparseFlash::Write(std::uint64_t address, const std::uint8_t* data, std::size_t length) {
    std::size_t done = 0;
    while (done < length) {
        const std::uint64_t at = address + done;
        const std::size_t inPage = static_cast<std::size_t>(at % kPageSize);
        const std::size_t n = std::min<std::size_t>(length - done, kPageSize - inPage);
        std::memcpy(PageAt(at / kPageSize).data() + inPage, data + done, n);
        done += n;
    }
    if (length > 0) writtenEnd_ = std::max<std::uint64_t>(writtenEnd_, address + length);
}

void SparseFlash::Erase(std::uint64_t address, std::uint64_t length) {
    std::uint64_t done = 0;
    while (done < length) {
        const std::uint64_t at = address + done;
        const std::uint64_t index = at / kPageSize;
        const std::size_t inPage = static_cast<std::size_t>(at % kPageSize);
        const std::uint64_t n = std::min<std::uint64_t>(length - done, kPageSize - inPage);
        auto it = pages_.find(index);
        if (it != pages_.end()) {
            if (n == kPageSize)
                pages_.erase(it);
            else
                std::memset(it->second->data() + inPage, 0xFF, static_cast<std::size_t>(n));
        }
        done += n;
    }
}

bool SparseFlash::Dump(const std::string& path) const {
    const std::string temp = path + ".part";
    std::FILE* f = std::fopen(temp.c_str(), "wb");
    if (!f) return false;
    bool ok = true;
    for (std::uint64_t at = 0; ok && at < writtenEnd_; at += kPageSize) {
        const std::size_t n =
            static_cast<std::size_t>(std::min<std::uint64_t>(kPageSize, writtenEnd_ - at));
        const std::vector<std::uint8_t> bytes = Read(at, n);
        ok = std::fwrite(bytes.data(), 1, n, f) == n;
    }
    const int saved = errno;
    if (std::fclose(f) != 0) ok = false;
    if (!ok) {
        std::remove(temp.c_str());
        errno = saved;
        return false;
    }
    if (std::rename(temp.c_str(), path.c_str()) != 0) {
        const int e = errno;
        std::remove(temp.c_str());
        errno = e;
        return false;
    }
    return true;
}

void SparseFlash::Clear() {
    pages_.clear();
    writtenEnd_ = 0;
}

}  // namespace zembra

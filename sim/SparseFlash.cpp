#include "sim/SparseFlash.h"

#include <algorithm>
#include <cstring>

#include "platform/Helpers.h"

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

std::string SparseFlash::Dump(const std::string& path) const {
    const std::vector<std::uint8_t> bytes = Read(0, static_cast<std::size_t>(writtenEnd_));
    return ReplaceFileDurably(path, std::string(bytes.begin(), bytes.end()));
}

void SparseFlash::Clear() {
    pages_.clear();
    writtenEnd_ = 0;
}

}  // namespace zembra

#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "job/DownloadJob.h"

namespace zembra {

// The flash range a selected image is erased and written to, as the engines compute it: a
// font whole at its address, the code image from its boot location (whole at 0 with Change).
// end is 64-bit so that a range running past the 4 GiB address space stays visible.
struct FlashRange {
    int slot = 0;                // ImageSlot index
    std::uint64_t start = 0;     // flash address of the first byte written
    std::uint64_t end = 0;       // one past the last byte written
    std::int64_t fileSize = 0;   // size of the image file
    std::int64_t bytesSent = 0;  // file bytes the range holds (size, or size - boot location)
};

// Size of the phone's address space: a range may not end beyond it.
inline constexpr std::uint64_t FLASH_ADDRESS_SPACE = 0x100000000ull;

// The question asked before a Start whose ranges have problems (caption "확인", Yes/No).
inline constexpr char FLASH_RANGE_QUESTION[] =
    "이미지의 플래시 영역에 문제가 있습니다. 그래도 다운로드를 하려면 예를 선택하세요";

// The range of every selected image whose file can be read now, in slot order. Font
// addresses are read from addressText as at Start (ParseNumber). A code image whose trailer
// is unreadable or invalid, or whose boot location lies past its end, has no range (the
// image checks report those files).
std::vector<FlashRange> PlannedFlashRanges(const DownloadJob& job);

// Problems of the job's planned ranges as operator lines, empty when there is none: ranges
// that overlap, a range that ends beyond the 4 GiB address space, an image larger than the
// 32-bit erase length that would be sent for it.
std::vector<std::string> FlashRangeProblems(const DownloadJob& job);

}  // namespace zembra

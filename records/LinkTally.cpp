#include "records/LinkTally.h"

#include <algorithm>

#include "protocol/PacketCodec.h"

namespace zembra {

namespace {

constexpr bool IsNakCode(std::uint8_t b) {
    return b >= NAK_INVALID_FCS && b <= NAK_FAILED;
}

}  // namespace

void LinkTally::Reset() {
    std::lock_guard<std::mutex> lock(mutex_);
    bytesSent_ = naks_ = retransmissions_ = 0;
    afterFlag_ = nakPending_ = false;
    lastWrite_.clear();
    settled_ = ProtocolChoice::Auto;
}

std::uint64_t LinkTally::bytesSent() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return bytesSent_;
}

std::uint64_t LinkTally::naks() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return naks_;
}

std::uint64_t LinkTally::retransmissions() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return retransmissions_;
}

ProtocolChoice LinkTally::settled() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return settled_;
}

void LinkTally::Written(const std::uint8_t* bytes, std::size_t count) {
    std::lock_guard<std::mutex> lock(mutex_);
    bytesSent_ += count;
    if (nakPending_ && count == lastWrite_.size() &&
        std::equal(bytes, bytes + count, lastWrite_.begin()))
        ++retransmissions_;
    nakPending_ = false;
    lastWrite_.assign(bytes, bytes + count);
}

void LinkTally::Received(const std::uint8_t* data, std::size_t count) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (std::size_t i = 0; i < count; ++i) {
        // A response frame opens with the flag; its first byte is the response code.
        if (afterFlag_ && IsNakCode(data[i])) {
            ++naks_;
            nakPending_ = true;
        }
        afterFlag_ = data[i] == kFrameFlag;
    }
}

void LinkTally::LogLine(const std::string& text) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (text == "CRC오류 재전송 요청") {
        ++retransmissions_;
    } else if (text == "압축 USB 모드" || text == "압축 UART 모드" ||
               text == "압축 USB 모드 요청" || text == "압축 UART 모드 요청") {
        settled_ = ProtocolChoice::Press;
    } else if (text == "일반 USB 모드" || text == "일반 UART 모드") {
        settled_ = ProtocolChoice::Normal;
    }
}

}  // namespace zembra

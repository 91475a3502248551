#include "protocol/BlockTransfer.h"

#include <lzo/lzo1x.h>
#include <sys/types.h>

#include <algorithm>
#include <cstring>

#include "job/StartSnapshot.h"
#include "protocol/SingleBridge.h"
#include "protocol/SingleShared.h"

namespace zembra {

namespace {

constexpr std::size_t kLzoBlockBufferSize = kLzoBlockSize + kBlockHeaderSize;  // 65,544
constexpr std::size_t kPackedSize = kLzoBlockBufferSize + kLzoBlockBufferSize / 16 + 64 + 3;
constexpr std::size_t kPayloadSize = 2 + kUartCompressedChunk;  // the largest packet payload

}  // namespace

BlockTransfer::BlockTransfer(SingleBridge& bridge, const StartSnapshot& snapshot)
    : bridge_(bridge),
      snapshot_(snapshot),
      block_(new std::uint8_t[kLzoBlockBufferSize]),
      packed_(new std::uint8_t[kPackedSize]),
      workMemory_(new std::uint8_t[LZO1X_1_MEM_COMPRESS]),
      payload_(new std::uint8_t[kPayloadSize]) {}

BlockTransfer::~BlockTransfer() = default;

std::uint8_t BlockTransfer::Percent(std::int64_t startOffset, std::int64_t fileSize,
                                    std::int64_t offset, std::int64_t sent) {
    const std::int64_t range = fileSize - startOffset;
    if (range <= 0) return 100;
    const std::int64_t done = offset - startOffset + sent;
    if (done <= 0) return 0;
    return static_cast<std::uint8_t>(std::min<std::int64_t>(done * 100 / range, 100));
}

int BlockTransfer::WriteAndWait(std::size_t frameLength) {
    bridge_.WriteRaw(static_cast<std::int32_t>(frameLength));
    const int wait = bridge_.WaitResponse(snapshot_.packetResponseWaitMs);
    if (wait == RESULT_NO_RESPONSE) bridge_.LogLine("응답이없습니다", COLOUR_RED);
    if (wait == RESULT_STOPPED) bridge_.LogLine("다운로드가 중단 됩니다", COLOUR_BLUE);
    return wait;
}

int BlockTransfer::WriteUntilAck(std::size_t frameLength) {
    int retries = 0;
    for (;;) {
        const int wait = WriteAndWait(frameLength);
        if (wait != RESULT_DONE) return wait;
        const std::uint8_t code = bridge_.responseCode();
        if (code == RSP_ACK) return RESULT_DONE;
        if (!RetryAfterNak(code, retries)) return RESULT_TOO_MANY_NAKS;
    }
}

bool BlockTransfer::RetryAfterNak(std::uint8_t code, int& retries) {
    const bool show = snapshot_.showInvalidFcsNak && code != NAK_INVALID_FCS;
    if (show) bridge_.ShowNak(code);
    if (retries > MAX_RETRIES) return false;
    ++retries;
    if (show) bridge_.LogLine("재전송 합니다", COLOUR_RED);
    return true;
}

int BlockTransfer::PrepareLzoBlock(std::FILE* file, std::int64_t fileSize, std::uint32_t address,
                                   std::int64_t offset, bool& compressed) {
    const std::size_t length =
        static_cast<std::size_t>(std::min<std::int64_t>(fileSize - offset, kLzoBlockSize));
    std::uint8_t* data = block_.get() + kBlockHeaderSize;
    // A short last block goes out whole when it does not compress: the rest is filled.
    if (!ReadImageBlock(file, offset, data, length, kLzoBlockSize)) return RESULT_FILE_READ_ERROR;
    PutLe32(block_.get(), address);
    PutLe32(block_.get() + 4, static_cast<std::uint32_t>(length));

    lzo_uint packedLength = 0;
    const int rc = lzo1x_1_compress(block_.get(), length + kBlockHeaderSize, packed_.get(),
                                    &packedLength, workMemory_.get());
    if (rc != LZO_E_OK) bridge_.LogLine("내부 압축 오류", COLOUR_RED);
    compressed = rc == LZO_E_OK && packedLength < length + kBlockHeaderSize;
    if (compressed) {
        stream_ = packed_.get();
        streamLength_ = packedLength;
    } else {
        stream_ = block_.get();
        streamLength_ = kLzoBlockBufferSize;
    }
    return RESULT_DONE;
}

int BlockTransfer::SendLzoStream(bool usb, bool compressed, std::int64_t startOffset,
                                 std::int64_t fileSize, std::int64_t offset) {
    SingleShared& shared = bridge_.shared();
    const std::size_t chunk = usb ? kUsbCompressedChunk : kUartCompressedChunk;
    const std::size_t total = streamLength_;
    std::uint8_t* payload = payload_.get();
    for (std::size_t sent = 0; sent < total; sent += chunk) {
        if (shared.stopRequested.load()) return RESULT_STOPPED;
        bridge_.ShowProgress(
            Percent(startOffset, fileSize, offset, static_cast<std::int64_t>(sent)),
            static_cast<std::int32_t>(offset));
        const std::size_t n = std::min(total - sent, chunk);
        payload[0] = CMD_COMPRESSED;
        payload[1] = sent + chunk >= total
                         ? COMPRESSED_LAST
                         : (compressed ? COMPRESSED_CONTINUES : UNCOMPRESSED_CONTINUES);
        std::memcpy(payload + 2, stream_ + sent, n);
        std::size_t frameLength;
        if (usb) {
            frameLength = BuildRawFrame(bridge_.outputBuffer(), payload, n + 2);
        } else {
            frameLength =
                codec_.Encode(bridge_.outputBuffer(), payload, static_cast<std::uint16_t>(n + 2));
        }
        const int rc = WriteUntilAck(frameLength);
        if (rc != RESULT_DONE) return rc;
    }
    return RESULT_DONE;
}

int BlockTransfer::SendBlockPpvUsb(std::FILE* file, std::int64_t startOffset, std::int64_t fileSize,
                                   std::uint32_t address, std::int64_t offset) {
    bool compressed = false;
    const int rc = PrepareLzoBlock(file, fileSize, address, offset, compressed);
    if (rc != RESULT_DONE) return rc;
    return SendLzoStream(true, compressed, startOffset, fileSize, offset);
}

int BlockTransfer::SendBlockPressUart(std::FILE* file, std::int64_t startOffset,
                                      std::int64_t fileSize, std::uint32_t address,
                                      std::int64_t offset) {
    bool compressed = false;
    const int rc = PrepareLzoBlock(file, fileSize, address, offset, compressed);
    if (rc != RESULT_DONE) return rc;
    return SendLzoStream(false, compressed, startOffset, fileSize, offset);
}

int BlockTransfer::SendBlockNormalUart(std::FILE* file, std::int64_t startOffset,
                                       std::int64_t fileSize, std::uint32_t address,
                                       std::int64_t offset) {
    const std::size_t length =
        static_cast<std::size_t>(std::min<std::int64_t>(fileSize - offset, kMaxWriteData));
    std::uint8_t* payload = block_.get();
    if (!ReadImageBlock(file, offset, payload + 1 + kWriteHeaderSize, length, length))
        return RESULT_FILE_READ_ERROR;
    payload[0] = CMD_WRITE_DATA;
    PutLe32(payload + 1, address);
    payload[5] = static_cast<std::uint8_t>(length);
    payload[6] = static_cast<std::uint8_t>(length >> 8);

    bridge_.ShowProgress(Percent(startOffset, fileSize, offset, 0),
                         static_cast<std::int32_t>(offset));
    const std::size_t frameLength = codec_.Encode(
        bridge_.outputBuffer(), payload, static_cast<std::uint16_t>(length + 1 + kWriteHeaderSize));
    return WriteUntilAck(frameLength);
}

int BlockTransfer::SendBlockNormalUsb(std::FILE* file, std::int64_t startOffset,
                                      std::int64_t fileSize, std::uint32_t /*address*/,
                                      std::int64_t offset) {
    std::uint8_t* data = block_.get();
    const std::size_t length =
        static_cast<std::size_t>(std::min<std::int64_t>(fileSize - offset, kDataBlockSize));
    if (!ReadImageBlock(file, offset, data, length, kDataBlockSize)) return RESULT_FILE_READ_ERROR;
    std::uint8_t* control = packed_.get();

    bridge_.ShowProgress(Percent(startOffset, fileSize, offset, 0),
                         static_cast<std::int32_t>(offset));

    bool controlState = StartsWithControlMarker(data, kDataBlockSize);
    if (controlState) BuildControlBlock(control, false);
    std::uint8_t expected[kMaxAckEchoSize];
    int retries = 0;
    for (;;) {
        const std::uint8_t* packet = controlState ? control : data;
        const std::size_t echoLength = BuildAckEcho(expected, packet);
        std::memcpy(bridge_.outputBuffer(), packet, kDataBlockSize);
        const int wait = WriteAndWait(kDataBlockSize);
        if (wait != RESULT_DONE) return wait;
        const std::uint8_t code = bridge_.responseCode();
        if (controlState) {
            if (code == RSP_SEND_DATA) {
                controlState = false;
                continue;
            }
            // A phone that never accepts the control block must not keep the run going for
            // ever: its negative answers count like any other.
            if (retries > MAX_RETRIES) return RESULT_TOO_MANY_NAKS;
            ++retries;
            continue;
        }
        if (code != RSP_ACK) return RESULT_TOO_MANY_NAKS;
        const std::vector<std::uint8_t>& response = bridge_.response();
        const std::size_t compared = echoLength - 2;  // response code .. last CRC byte
        if (response.size() >= compared &&
            std::memcmp(response.data(), expected + 1, compared) == 0)
            return RESULT_DONE;
        bridge_.LogLine("CRC오류 재전송 요청", COLOUR_RED);
        BuildControlBlock(control, true);
        controlState = true;
        if (retries > MAX_RETRIES) return RESULT_ECHO_FAILED;
        ++retries;
    }
}

}  // namespace zembra

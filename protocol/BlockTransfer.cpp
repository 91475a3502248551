#include "protocol/BlockTransfer.h"

#include <algorithm>
#include <cstring>

#include "job/StartSnapshot.h"
#include "protocol/RunEvents.h"

namespace zembra {

namespace {

constexpr std::size_t kLzoBlockBufferSize = kLzoBlockSize + kBlockHeaderSize;  // 65,544
constexpr std::size_t kPayloadSize = 2 + kUartCompressedChunk;  // the largest packet payload
// Block header of the UART normal mode: address (4) + length (2).
constexpr std::size_t kWriteHeaderSize = 6;

}  // namespace

BlockTransfer::BlockTransfer(SequenceHost& host, const StartSnapshot& snapshot,
                             const RunReport& report, bool stopBeforeEveryPacket)
    : host_(host),
      snapshot_(snapshot),
      report_(report),
      stopBeforeEveryPacket_(stopBeforeEveryPacket),
      block_(new std::uint8_t[kLzoBlockBufferSize]),
      packed_(new std::uint8_t[LzoOutputBound(kLzoBlockBufferSize)]),
      payload_(new std::uint8_t[kPayloadSize]) {}

std::uint8_t BlockTransfer::Percent(std::int64_t startOffset, std::int64_t fileSize,
                                    std::int64_t offset, std::int64_t sent) {
    const std::int64_t range = fileSize - startOffset;
    if (range <= 0) return 100;
    const std::int64_t done = offset - startOffset + sent;
    if (done <= 0) return 0;
    return static_cast<std::uint8_t>(std::min<std::int64_t>(done * 100 / range, 100));
}

std::int64_t BlockTransfer::BlockStep(LinkProtocolCode mode) {
    switch (mode) {
        case USB_PPV:
        case UART_PRESS:
            return static_cast<std::int64_t>(kLzoBlockSize);
        case USB_NORMAL:
            return static_cast<std::int64_t>(kDataBlockSize);
        default:
            return static_cast<std::int64_t>(kMaxWriteData);
    }
}

BlockResult BlockTransfer::SendBlock(LinkProtocolCode mode, std::FILE* file,
                                     std::int64_t startOffset, std::int64_t fileSize,
                                     std::uint32_t address, std::int64_t offset) {
    switch (mode) {
        case USB_PPV:
        case UART_PRESS:
            return SendBlockCompressed(mode == USB_PPV, file, startOffset, fileSize, address,
                                       offset);
        case USB_NORMAL:
            return SendBlockNormalUsb(file, startOffset, fileSize, offset);
        default:
            return SendBlockNormalUart(file, startOffset, fileSize, address, offset);
    }
}

BlockResult BlockTransfer::WriteAndWait(std::size_t frameLength, std::uint8_t refusedBy) {
    if (StopBeforeWrite()) return BlockResult::Stopped;
    if (IsNakCode(refusedBy)) report_.events.Resent(report_.slot, refusedBy);
    host_.WriteFrame(frameLength);
    const WaitResult wait =
        report_.Answer(host_, host_.WaitResponse(snapshot_.packetResponseWaitMs));
    if (report_.AnswerTaken(wait)) return BlockResult::Done;
    return wait == WaitResult::Stopped ? BlockResult::Stopped : BlockResult::NoResponse;
}

BlockResult BlockTransfer::WriteUntilAck(std::size_t frameLength) {
    int retries = 0;
    for (std::uint8_t refusedBy = 0;;) {
        const BlockResult wait = WriteAndWait(frameLength, refusedBy);
        if (wait != BlockResult::Done) return wait;
        refusedBy = host_.ResponseCode();
        if (refusedBy == RSP_ACK) return BlockResult::Done;
        if (!RetryAfterNak(refusedBy, retries)) return BlockResult::TooManyNaks;
    }
}

bool BlockTransfer::RetryAfterNak(std::uint8_t code, int& retries) {
    const bool show = snapshot_.showInvalidFcsNak && code != NAK_INVALID_FCS;
    if (show) report_.ShowNak(code);
    if (retries > MAX_RETRIES) return false;
    ++retries;
    if (show) report_.Line("재전송 합니다", COLOUR_RED);
    return true;
}

BlockResult BlockTransfer::SendBlockCompressed(bool usb, std::FILE* file, std::int64_t startOffset,
                                               std::int64_t fileSize, std::uint32_t address,
                                               std::int64_t offset) {
    const std::size_t length =
        static_cast<std::size_t>(std::min<std::int64_t>(fileSize - offset, kLzoBlockSize));
    // A short last block goes out whole when it does not compress: the rest is filled.
    if (!ReadImageBlock(file, offset, block_.get() + kBlockHeaderSize, length, kLzoBlockSize))
        return BlockResult::FileReadError;
    PutLe32(block_.get(), address);
    PutLe32(block_.get() + 4, static_cast<std::uint32_t>(length));
    const LzoResult packed =
        host_.Compressor().Compress(block_.get(), length + kBlockHeaderSize, packed_.get());
    if (!packed.ok) report_.Line("내부 압축 오류", COLOUR_RED);
    const bool compressed = packed.ok && packed.length < length + kBlockHeaderSize;
    const std::uint8_t* stream = compressed ? packed_.get() : block_.get();
    const std::size_t total = compressed ? packed.length : kLzoBlockBufferSize;

    const std::size_t chunk = usb ? kUsbCompressedChunk : kUartCompressedChunk;
    std::uint8_t* payload = payload_.get();
    for (std::size_t sent = 0; sent < total; sent += chunk) {
        if (host_.StopRequested()) return BlockResult::Stopped;
        report_.Progress(Percent(startOffset, fileSize, offset, static_cast<std::int64_t>(sent)),
                         offset, fileSize);
        const std::size_t n = std::min(total - sent, chunk);
        payload[0] = CMD_COMPRESSED;
        payload[1] = sent + chunk >= total
                         ? COMPRESSED_LAST
                         : (compressed ? COMPRESSED_CONTINUES : UNCOMPRESSED_CONTINUES);
        std::memcpy(payload + 2, stream + sent, n);
        const std::size_t frameLength =
            usb ? BuildRawFrame(host_.FrameBuffer(), payload, n + 2)
                : codec_.Encode(host_.FrameBuffer(), payload, static_cast<std::uint16_t>(n + 2));
        const BlockResult rc = WriteUntilAck(frameLength);
        if (rc != BlockResult::Done) return rc;
    }
    return BlockResult::Done;
}

BlockResult BlockTransfer::SendBlockNormalUart(std::FILE* file, std::int64_t startOffset,
                                               std::int64_t fileSize, std::uint32_t address,
                                               std::int64_t offset) {
    const std::size_t length =
        static_cast<std::size_t>(std::min<std::int64_t>(fileSize - offset, kMaxWriteData));
    std::uint8_t* payload = block_.get();
    if (!ReadImageBlock(file, offset, payload + 1 + kWriteHeaderSize, length, length))
        return BlockResult::FileReadError;
    payload[0] = CMD_WRITE_DATA;
    PutLe32(payload + 1, address);
    payload[5] = static_cast<std::uint8_t>(length);
    payload[6] = static_cast<std::uint8_t>(length >> 8);

    report_.Progress(Percent(startOffset, fileSize, offset, 0), offset, fileSize);
    const std::size_t frameLength = codec_.Encode(
        host_.FrameBuffer(), payload, static_cast<std::uint16_t>(length + 1 + kWriteHeaderSize));
    return WriteUntilAck(frameLength);
}

BlockResult BlockTransfer::SendBlockNormalUsb(std::FILE* file, std::int64_t startOffset,
                                              std::int64_t fileSize, std::int64_t offset) {
    std::uint8_t* data = block_.get();
    const std::size_t length =
        static_cast<std::size_t>(std::min<std::int64_t>(fileSize - offset, kDataBlockSize));
    if (!ReadImageBlock(file, offset, data, length, kDataBlockSize))
        return BlockResult::FileReadError;
    std::uint8_t* control = packed_.get();
    report_.Progress(Percent(startOffset, fileSize, offset, 0), offset, fileSize);

    bool controlState = StartsWithControlMarker(data, kDataBlockSize);
    if (controlState) BuildControlBlock(control, false);
    std::uint8_t expected[kMaxAckEchoSize];
    int retries = 0;
    for (std::uint8_t refusedBy = 0;;) {
        const std::uint8_t* packet = controlState ? control : data;
        const std::size_t echoLength = BuildAckEcho(expected, packet);
        std::memcpy(host_.FrameBuffer(), packet, kDataBlockSize);
        const BlockResult wait = WriteAndWait(kDataBlockSize, refusedBy);
        refusedBy = 0;
        if (wait != BlockResult::Done) return wait;
        const std::uint8_t code = host_.ResponseCode();
        if (controlState) {
            controlState = code != RSP_SEND_DATA;
            // A phone that never accepts the control block must not keep the run going for
            // ever: its negative answers count like any other.
            if (controlState && retries++ > MAX_RETRIES) return BlockResult::TooManyNaks;
            if (controlState) refusedBy = code;
            continue;
        }
        if (code != RSP_ACK) return BlockResult::TooManyNaks;
        const std::vector<std::uint8_t>& response = host_.Response();
        const std::size_t compared = echoLength - 2;  // response code .. last CRC byte
        if (response.size() >= compared &&
            std::memcmp(response.data(), expected + 1, compared) == 0)
            return BlockResult::Done;
        report_.Line("CRC오류 재전송 요청", COLOUR_RED);
        report_.events.Resent(report_.slot, 0);
        BuildControlBlock(control, true);
        controlState = true;
        if (retries > MAX_RETRIES) return BlockResult::EchoFailed;
        ++retries;
    }
}

}  // namespace zembra

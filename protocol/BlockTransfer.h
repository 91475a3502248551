#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>

#include "job/ImageLayout.h"
#include "protocol/PacketCodec.h"
#include "protocol/ProtocolCodes.h"

namespace zembra {

class SingleBridge;
struct StartSnapshot;

// Block header length of the compressed modes: address (4) + length (4).
inline constexpr std::size_t kBlockHeaderSize = 8;
// Block header length of the UART normal mode: address (4) + length (2).
inline constexpr std::size_t kWriteHeaderSize = 6;

// The four block routines of the single engine. Each sends one block of the open image file
// and returns RESULT_NO_RESPONSE, RESULT_ECHO_FAILED, RESULT_DONE, RESULT_STOPPED,
// RESULT_TOO_MANY_NAKS or RESULT_FILE_READ_ERROR (SingleShared.h).
//
// Arguments: file, start offset of the range, file size (as read when the image started),
// memory address of the block, current file offset. Reads never go past fileSize nor past
// what the file really holds: a file that shrank ends the block with RESULT_FILE_READ_ERROR.
//
// Runs on the worker thread; writes and log lines go through the bridge. Owns the block
// buffers and the compressor's work memory (one per engine).
class BlockTransfer {
  public:
    BlockTransfer(SingleBridge& bridge, const StartSnapshot& snapshot);
    ~BlockTransfer();
    BlockTransfer(const BlockTransfer&) = delete;
    BlockTransfer& operator=(const BlockTransfer&) = delete;

    int SendBlockPpvUsb(std::FILE* file, std::int64_t startOffset, std::int64_t fileSize,
                        std::uint32_t address, std::int64_t offset);
    int SendBlockNormalUsb(std::FILE* file, std::int64_t startOffset, std::int64_t fileSize,
                           std::uint32_t address, std::int64_t offset);
    int SendBlockNormalUart(std::FILE* file, std::int64_t startOffset, std::int64_t fileSize,
                            std::uint32_t address, std::int64_t offset);
    int SendBlockPressUart(std::FILE* file, std::int64_t startOffset, std::int64_t fileSize,
                           std::uint32_t address, std::int64_t offset);

    // (offset - start + sent) * 100 / (size - start), at most 100.
    static std::uint8_t Percent(std::int64_t startOffset, std::int64_t fileSize,
                                std::int64_t offset, std::int64_t sent);

  private:
    // Reads the block and compresses it; sets stream_/streamLength_/compressed.
    int PrepareLzoBlock(std::FILE* file, std::int64_t fileSize, std::uint32_t address,
                        std::int64_t offset, bool& compressed);
    // Sends stream_ in packets of chunk bytes (USB: raw frames; UART: command frames).
    int SendLzoStream(bool usb, bool compressed, std::int64_t startOffset, std::int64_t fileSize,
                      std::int64_t offset);
    // The negative-answer rule; true: send the packet again, false: give up (RESULT 4).
    bool RetryAfterNak(std::uint8_t code, int& retries);
    // Writes frameLength bytes of the bridge's output buffer and waits for the answer, with
    // "응답이없습니다" / "다운로드가 중단 됩니다" for the wait results 0 and 3. Returns the wait's
    // result.
    int WriteAndWait(std::size_t frameLength);
    // WriteAndWait until the phone answers ACK, again after each negative answer
    // (RetryAfterNak). RESULT_DONE on the ACK, else the failure.
    int WriteUntilAck(std::size_t frameLength);

    SingleBridge& bridge_;
    const StartSnapshot& snapshot_;
    PacketCodec codec_;
    std::unique_ptr<std::uint8_t[]> block_;       // header + 65,536 bytes
    std::unique_ptr<std::uint8_t[]> packed_;      // compressor output
    std::unique_ptr<std::uint8_t[]> workMemory_;  // LZO1X-1 work memory
    std::unique_ptr<std::uint8_t[]> payload_;     // one packet's payload before framing
    const std::uint8_t* stream_ = nullptr;
    std::size_t streamLength_ = 0;
};

}  // namespace zembra

#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>

#include "job/ImageLayout.h"
#include "protocol/PacketCodec.h"
#include "protocol/ProtocolCodes.h"
#include "protocol/SequenceHost.h"

namespace zembra {

struct StartSnapshot;
struct RunReport;

// The block routines of the download sequence: each sends one block of the open image file
// and returns a BlockResult.
//
// Arguments: file, start offset of the range, file size (as read when the image started),
// memory address of the block, current file offset. Reads never go past fileSize nor past
// what the file really holds: a file that shrank ends the block with FileReadError.
//
// Runs on the worker thread; writes, waits and log lines go through the host, and the
// writes, negative answers and resends are told to the run's observer. Owns the block
// buffers; the compressor (and its work memory) is the host's.
class BlockTransfer {
  public:
    // stopBeforeEveryPacket: a stop is looked at before every write (also a resend), not
    // only before each new packet of a compressed block.
    BlockTransfer(SequenceHost& host, const StartSnapshot& snapshot, const RunReport& report,
                  bool stopBeforeEveryPacket = false);
    BlockTransfer(const BlockTransfer&) = delete;
    BlockTransfer& operator=(const BlockTransfer&) = delete;

    // The routine of a mode (USB_PPV, USB_NORMAL, UART_PRESS, anything else UART normal).
    BlockResult SendBlock(LinkProtocolCode mode, std::FILE* file, std::int64_t startOffset,
                          std::int64_t fileSize, std::uint32_t address, std::int64_t offset);
    // The block step of a mode: 65,536 (compressed), 1,024 (USB normal), 4,096 (UART normal).
    static std::int64_t BlockStep(LinkProtocolCode mode);

    // (offset - start + sent) * 100 / (size - start), at most 100.
    static std::uint8_t Percent(std::int64_t startOffset, std::int64_t fileSize,
                                std::int64_t offset, std::int64_t sent);

  private:
    // SendBlockPpvUsb (usb: raw frames of 1,020 block bytes) and SendBlockPressUart (command
    // frames of 8,192): the block with its header, LZO-compressed when that makes it shorter.
    BlockResult SendBlockCompressed(bool usb, std::FILE* file, std::int64_t startOffset,
                                    std::int64_t fileSize, std::uint32_t address,
                                    std::int64_t offset);
    BlockResult SendBlockNormalUart(std::FILE* file, std::int64_t startOffset,
                                    std::int64_t fileSize, std::uint32_t address,
                                    std::int64_t offset);
    BlockResult SendBlockNormalUsb(std::FILE* file, std::int64_t startOffset, std::int64_t fileSize,
                                   std::int64_t offset);
    // The negative-answer rule; true: send the packet again, false: give up (TooManyNaks).
    bool RetryAfterNak(std::uint8_t code, int& retries);
    // Writes frameLength bytes of the host's frame buffer and waits for the answer (the line of
    // a wait without one: RunReport::AnswerTaken). refusedBy: the
    // answer that this write repeats the packet for (a negative one is told as a resend).
    BlockResult WriteAndWait(std::size_t frameLength, std::uint8_t refusedBy = 0);
    // WriteAndWait until the phone answers ACK, again after each negative answer
    // (RetryAfterNak). Done on the ACK, else the failure.
    BlockResult WriteUntilAck(std::size_t frameLength);
    // Stopped when a stop is pending and stops are looked at before every write.
    bool StopBeforeWrite() const { return stopBeforeEveryPacket_ && host_.StopRequested(); }

    SequenceHost& host_;
    const StartSnapshot& snapshot_;
    const RunReport& report_;
    const bool stopBeforeEveryPacket_;
    PacketCodec codec_;
    std::unique_ptr<std::uint8_t[]> block_;    // header + 65,536 bytes
    std::unique_ptr<std::uint8_t[]> packed_;   // compressor output
    std::unique_ptr<std::uint8_t[]> payload_;  // one packet's payload before framing
};

}  // namespace zembra

// Block transfer of a multi worker: WriteImage and the two USB block routines.
#include <algorithm>
#include <cstring>

#include "multi/MSBDLU.h"
#include "multi/MultiHost.h"
#include "platform/Helpers.h"
#include "job/ImageLayout.h"
#include "protocol/ProtocolCodes.h"

namespace zembra {

bool MultiSingleBoxDLU::WriteImage() {
    Log("프로그램 시작", COLOUR_BLACK);
    const bool ppv = mode_ == USB_PPV;
    const std::uint32_t step = ppv ? kLzoBlockSize : kDataBlockSize;
    std::uint32_t offset = startOffset;
    while (offset < fileSize) {
        const int result =
            ppv ? SendBlockPpvUsb(imageFile, startOffset, fileSize, flashAddress, offset)
                : SendBlockNormalUsb(imageFile, startOffset, fileSize, flashAddress, offset);
        if (result == Done) {
            // The last step may pass the end of a file close to 4 GiB.
            if (fileSize - offset <= step) break;
            offset += step;
            flashAddress += step;
            continue;
        }
        if (result == FileReadError) {
            Log(FormatText("파일 읽기 오류: 위치 0x%X (파일이 바뀌었습니다)", offset), COLOUR_RED);
            return false;
        }
        if (result == Stopped) {
            Log(FormatText(ppv ? "파일 위치 0x%X에서 다운로드가 중단 됩니다. 케이블을 제거하세요"
                               : "파일 위치 0x%X에서 다운로드가 중단 됩니다. 케이블을 제거 하세요",
                           offset),
                COLOUR_RED);
        }
        return false;
    }
    CloseImage();
    Pause();
    return true;
}

int MultiSingleBoxDLU::SendBlockPpvUsb(std::FILE* file, std::uint32_t rangeStart,
                                       std::uint32_t size, std::uint32_t address,
                                       std::uint32_t offset) {
    std::uint8_t* block = blockArea_.get();
    const std::uint32_t n = std::min<std::uint32_t>(size - offset, kLzoBlockSize);
    if (!ReadImageBlock(file, offset, block + kBlockHeaderSize, n, kLzoBlockSize))
        return FileReadError;
    PutLe32(block, address);
    PutLe32(block + 4, n);

    const LzoResult compressed =
        lzo_.Compress(config_.slot, block, n + kBlockHeaderSize, compressedArea_.get());
    if (!compressed.ok) Log("내부 압축 오류", COLOUR_RED);
    const bool smaller = compressed.ok && compressed.length < n + kBlockHeaderSize;
    const std::uint8_t* stream = smaller ? compressedArea_.get() : block;
    const std::size_t total = smaller ? compressed.length : kBlockHeaderSize + kLzoBlockSize;
    const std::uint8_t flag = smaller ? COMPRESSED_CONTINUES : UNCOMPRESSED_CONTINUES;

    int retries = 0;
    for (std::size_t sent = 0; sent < total; sent += kUsbCompressedChunk) {
        if (stopRequested()) return Stopped;
        RunShowProgress(rangeStart, size, offset, sent);
        const std::size_t chunk = std::min(total - sent, kUsbCompressedChunk);
        for (;;) {
            if (stopRequested()) return Stopped;
            std::uint8_t* payload = packetBuffer_.get();
            std::memset(payload, 0, kRawFrameSize);
            payload[0] = CMD_COMPRESSED;
            payload[1] = sent + kUsbCompressedChunk >= total ? COMPRESSED_LAST : flag;
            std::memcpy(payload + 2, stream + sent, chunk);
            BuildRawFrame(outputBuffer_.get(), payload, chunk + 2);
            RunWriteRaw(kRawFrameSize);
            const int wait = WaitResponse(config_.packetResponseWaitMs);
            if (!ResponseTaken(wait)) return wait == 0 ? NoResponse : Stopped;
            const std::uint8_t code = responseCode();
            if (code == RSP_ACK) break;
            const bool announce = config_.showInvalidFcsNak && code != NAK_INVALID_FCS;
            if (announce) RunShowNak(code);
            if (retries > 10) return TooManyNaks;
            ++retries;
            if (announce) Log("재전송 합니다", COLOUR_RED);
        }
    }
    return Done;
}

int MultiSingleBoxDLU::SendBlockNormalUsb(std::FILE* file, std::uint32_t rangeStart,
                                          std::uint32_t size, std::uint32_t /*address*/,
                                          std::uint32_t offset) {
    std::uint8_t chunk[kDataBlockSize];
    const std::size_t length = std::min<std::uint32_t>(size - offset, kDataBlockSize);
    if (!ReadImageBlock(file, offset, chunk, length, kDataBlockSize)) return FileReadError;
    RunShowProgress(rangeStart, size, offset, 0);

    std::uint8_t* packet = packetBuffer_.get();
    bool controlState = StartsWithControlMarker(chunk, kDataBlockSize);
    if (controlState) {
        BuildControlBlock(packet, false);
    } else {
        std::memcpy(packet, chunk, kDataBlockSize);
    }
    int retries = 0;
    for (;;) {
        if (stopRequested()) return Stopped;
        std::memcpy(outputBuffer_.get(), packet, kDataBlockSize);
        expectedEchoLength_ = BuildAckEcho(expectedEcho_.data(), packet);
        RunWriteRaw(kDataBlockSize);
        const int wait = WaitResponse(config_.packetResponseWaitMs);
        if (!ResponseTaken(wait)) return wait == 0 ? NoResponse : Stopped;
        const std::uint8_t code = responseCode();
        if (controlState) {
            if (code == RSP_SEND_DATA) {
                std::memcpy(packet, chunk, kDataBlockSize);
                controlState = false;
            } else {
                std::memcpy(packet, kControlMarker.data(), kControlMarker.size());
            }
            continue;
        }
        if (code != RSP_ACK) return TooManyNaks;
        const std::size_t compare = expectedEchoLength_ - 2;
        if (std::memcmp(response(), expectedEcho_.data() + 1, compare) == 0) return Done;
        Log("CRC오류 재전송 요청", COLOUR_RED);
        BuildControlBlock(packet, true);
        controlState = true;
        if (retries > 10) return EchoFailed;
        ++retries;
    }
}

}  // namespace zembra

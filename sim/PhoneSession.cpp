#include "sim/PhoneSession.h"

#include <lzo/lzo1x.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <utility>

#include "platform/Helpers.h"
#include "protocol/PacketCodec.h"
#include "protocol/ProtocolCodes.h"
#include "sim/PhoneWire.h"

namespace zembra {

namespace {

constexpr std::size_t kBlockHeader = 8;
constexpr std::size_t kStreamMax = kLzoBlockSize + kBlockHeader;  // 65,544
constexpr std::size_t kPayloadKept = 16;                          // payload bytes recorded

std::uint32_t Le32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

std::uint16_t Le16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}

std::string Hex(std::uint64_t v) {
    return FormatText("0x%llX", static_cast<unsigned long long>(v));
}

// What a frame carried, into its record entry: command, flag, length and the first bytes.
void RecordPayload(SimRecordEntry& entry, const std::vector<std::uint8_t>& payload) {
    if (!payload.empty()) {
        entry.command = payload[0];
        entry.flag = payload.size() > 1 ? payload[1] : 0;
    }
    entry.length = payload.size();
    entry.payload.assign(payload.begin(), payload.begin() + std::min(payload.size(), kPayloadKept));
}

// Text of a unit kind / stage for messages, in the order of the enumerations.
const char* SimUnitKindName(SimUnitKind kind) {
    static constexpr const char* kNames[] = {"command frame", "raw frame", "data block",
                                             "control block", "line event"};
    return kNames[static_cast<int>(kind)];
}

const char* SimStageName(SimStage stage) {
    static constexpr const char* kNames[] = {"boot loader (idle)", "boot loader",
                                             "download module (entered)", "download module"};
    return kNames[static_cast<int>(stage)];
}

bool LzoReady() {
    static const bool ready = lzo_init() == LZO_E_OK;
    return ready;
}

}  // namespace

std::string DescribeEntry(const SimRecordEntry& e) {
    std::string text =
        FormatText("#%llu %s", static_cast<unsigned long long>(e.index), SimUnitKindName(e.kind));
    if (e.kind == SimUnitKind::LineEvent) return text + ": " + e.note;
    if (e.kind == SimUnitKind::CommandFrame || e.kind == SimUnitKind::RawFrame) {
        text += FormatText(" 0x%02X", e.command);
        if (e.command == 0x12) text += FormatText(" flag 0x%02X", e.flag);
        text += FormatText(" (%zu bytes)", e.length);
    } else if (e.kind == SimUnitKind::ControlBlock) {
        text += FormatText(" 0x%02X", e.flag);
    }
    if (e.written > 0) text += FormatText(" wrote %zu at 0x%X", e.written, e.address);
    text += e.answered ? FormatText(" -> 0x%02X", e.answer) : std::string(" -> (no answer)");
    if (!e.note.empty()) text += (e.isError ? " ERROR: " : " : ") + e.note;
    return text;
}

PhoneSession::PhoneSession(const SimPhoneConfig& config) : config_(config), plan_(config.faults) {
    frame_.reserve(kFrameBufferSize);
    block_.reserve(kRawFrameSize);
}

// ---------------------------------------------------------------------------------------------
// Input assembly

std::size_t PhoneSession::Feed(const std::uint8_t* data, std::size_t length, SimAnswer* answer) {
    answer_ = SimAnswer{};
    std::size_t i = 0;
    while (i < length) {
        const std::uint8_t b = data[i++];
        ++counters_.bytesReceived;
        ++faultBytes_;
        if (ConsumeByte(b)) break;
    }
    *answer = std::move(answer_);
    return i;
}

bool PhoneSession::UsbNormal() const {
    return config_.link == SimLink::Usb && !compressionAcked_ && stage_ == SimStage::DownloadModule;
}

bool PhoneSession::UsbBlockExpected() const {
    return UsbNormal() && (usbBlocksLeft_ > 0 || await_ != Await::None);
}

bool PhoneSession::ConsumeByte(std::uint8_t b) {
    switch (in_) {
        case In::Padding:
            if (b == kPhoneFlag) {
                // The frame was not padded: this flag opens the next one.
                Note(FormatText("a USB command frame was not padded with zeros to a multiple "
                                "of 4 bytes (%zu padding byte(s) missing)",
                                padLeft_),
                     true);
                padLeft_ = 0;
                in_ = In::Frame;
                return false;
            }
            if (b != 0x00) {
                ++strayPending_;
                strayNonZeroPad_ = true;
            }
            if (--padLeft_ == 0) in_ = In::Idle;
            return false;
        case In::Frame:
            if (b == kPhoneFlag) {
                if (frame_.empty()) {
                    // Two flags in a row: the first one was a stray byte.
                    ++strayPending_;
                    return false;
                }
                const std::size_t wire = frame_.size() + 2;
                in_ = In::Idle;
                if (config_.link == SimLink::Usb) {
                    padLeft_ = (4 - wire % 4) % 4;
                    if (padLeft_ > 0) in_ = In::Padding;
                }
                HandleCommandFrame();
                frame_.clear();
                frameOverflow_ = false;
                return true;
            }
            if (frame_.size() < kFrameBufferSize)
                frame_.push_back(b);
            else
                frameOverflow_ = true;
            return false;
        case In::Block:
            block_.push_back(b);
            if (block_.size() < kRawFrameSize) return false;
            in_ = In::Idle;
            if (blockIsRaw_)
                HandleRawFrame();
            else
                HandleUsbBlock();
            block_.clear();
            return true;
        case In::Idle:
            // A control block may also announce the retransmission of the image's last block.
            if (rawMode_ || UsbBlockExpected() ||
                (b == kPhoneControlMarker[0] && controlAllowed_ && UsbNormal())) {
                in_ = In::Block;
                blockIsRaw_ = rawMode_;
                block_.push_back(b);
                return false;
            }
            if (b == kPhoneFlag) {
                in_ = In::Frame;
                return false;
            }
            ++strayPending_;
            return false;
    }
    return false;
}

void PhoneSession::ClearInput() {
    in_ = In::Idle;
    frame_.clear();
    frameOverflow_ = false;
    padLeft_ = 0;
    block_.clear();
    strayPending_ = 0;
    strayNonZeroPad_ = false;
}

// ---------------------------------------------------------------------------------------------
// Units

void PhoneSession::HandleCommandFrame() {
    unit_ = SimRecordEntry{};
    unit_.kind = SimUnitKind::CommandFrame;
    unit_.lineRate = ProbeRate();

    std::string framing;
    std::vector<std::uint8_t> payload = PhoneUnescape(frame_, &framing);
    if (frameOverflow_) framing = "frame longer than 16,400 bytes";
    if (payload.size() < 3 && framing.empty())
        framing =
            FormatText("frame of %zu bytes has no room for a command and its FCS", payload.size());
    if (framing.empty()) {
        const std::size_t n = payload.size() - 2;
        const std::uint16_t fcs =
            static_cast<std::uint16_t>(PhoneCrc16(payload.data(), n) ^ 0xFFFF);
        const std::uint16_t got = static_cast<std::uint16_t>(payload[n] | payload[n + 1] << 8);
        if (fcs != got) framing = FormatText("bad FCS 0x%04X, expected 0x%04X", got, fcs);
        payload.resize(n);
    }
    RecordPayload(unit_, payload);
    const bool isData = framing.empty() && !payload.empty() &&
                        (payload[0] == CMD_WRITE_DATA ||
                         (payload[0] == CMD_COMPRESSED && unit_.flag != COMPRESSED_REQUEST));
    if (!Admit(isData)) return;
    if (frameOverflow_) return Refuse(NAK_TOO_LARGE, framing);
    if (!framing.empty()) return Refuse(NAK_INVALID_FCS, framing);
    if (config_.link == SimLink::Uart && config_.checkLineRate && unit_.lineRate != 0 &&
        unit_.lineRate != counters_.phoneRate)
        return Refuse(NAK_INVALID_FCS,
                      FormatText("frame sent at %u bit/s while the phone runs at %u bit/s",
                                 unit_.lineRate, counters_.phoneRate));
    Dispatch(payload);
}

void PhoneSession::HandleRawFrame() {
    unit_ = SimRecordEntry{};
    unit_.kind = SimUnitKind::RawFrame;
    unit_.lineRate = ProbeRate();
    // The CRC high byte is never 0x00 on the wire, so it is the frame's last non-zero byte.
    std::size_t h = kRawFrameSize;
    while (h > 0 && block_[h - 1] == 0x00) --h;
    std::string framing;
    std::vector<std::uint8_t> payload;
    if (h < 3) {
        framing = "raw frame without a payload and CRC";
    } else {
        const std::size_t n = h - 2;
        payload.assign(block_.begin(), block_.begin() + n);
        const std::uint16_t crc = PhoneCrc16(block_.data(), n);
        const std::uint8_t low = static_cast<std::uint8_t>(crc & 0xFF);
        const std::uint8_t high = static_cast<std::uint8_t>(crc >> 8);
        const std::uint8_t wireHigh = high == 0x00 ? kPhoneFlag : high;
        if (block_[n] != low || block_[n + 1] != wireHigh)
            framing = FormatText("bad raw-frame CRC %02X %02X, expected %02X %02X", block_[n],
                                 block_[n + 1], low, wireHigh);
    }
    RecordPayload(unit_, payload);
    const bool isData = framing.empty() && payload.size() > 1 && payload[0] == CMD_COMPRESSED &&
                        payload[1] != COMPRESSED_REQUEST;
    if (!Admit(isData)) return;
    if (!framing.empty()) return Refuse(NAK_INVALID_FCS, framing);
    Dispatch(payload);
}

void PhoneSession::HandleUsbBlock() {
    const std::uint8_t* block = block_.data();
    const bool control = await_ == Await::None && PhoneHasControlMarker(block, block_.size());
    unit_ = SimRecordEntry{};
    unit_.lineRate = ProbeRate();
    unit_.kind = control ? SimUnitKind::ControlBlock : SimUnitKind::DataBlock;
    unit_.length = kDataBlockSize;
    if (control) unit_.flag = block[kPhoneControlMarker.size()];
    if (!Admit(true)) return;

    if (control) {
        if (unit_.flag > 1 ||
            std::any_of(block + kPhoneControlMarker.size() + 1, block + kDataBlockSize,
                        [](std::uint8_t b) { return b != 0; }))
            return Refuse(NAK_INVALID_CMD,
                          "block begins with the control marker but is no control block "
                          "(a data block that begins with the marker needs a control block "
                          "first)");
        if (unit_.flag == 0x00) {
            if (usbBlocksLeft_ == 0)
                return Refuse(NAK_INVALID_CMD, "control block 0x00 after the range's last block");
            await_ = Await::MarkerData;
            unit_.note = "next block begins with the marker";
        } else {
            if (!controlAllowed_)
                return Refuse(NAK_INVALID_CMD, "control block 0x01 without a block to retransmit");
            await_ = Await::Retransmit;
            unit_.note = "retransmission of the last block";
        }
        return Accept(RSP_SEND_DATA);
    }

    if (!UsbBlockExpected())
        return Refuse(NAK_INVALID_CMD,
                      "1,024 bytes beginning with 0x01 that are neither a command frame nor a "
                      "control block");
    if (await_ == Await::Retransmit) {
        flash_.Write(lastBlockAddress_, block, lastBlockKept_);
        unit_.address = static_cast<std::uint32_t>(lastBlockAddress_);
        unit_.written = lastBlockKept_;
        unit_.note = "retransmitted block";
        await_ = Await::None;
        return SendEcho(block);
    }
    if (await_ == Await::MarkerData && !PhoneHasControlMarker(block, block_.size()))
        return Refuse(NAK_INVALID_CMD,
                      "control block 0x00 announced a block beginning with the marker, but "
                      "this one does not");
    const std::uint64_t address = image_.start + image_.written;
    const std::size_t keep = static_cast<std::size_t>(
        std::min<std::uint64_t>(kDataBlockSize, image_.length - image_.written));
    const std::string problem = Store(address, block, keep, kDataBlockSize);
    if (!problem.empty()) return Refuse(NAK_FAILED, problem);
    await_ = Await::None;
    --usbBlocksLeft_;
    lastBlockAddress_ = address;
    lastBlockKept_ = keep;
    controlAllowed_ = true;
    SendEcho(block);
}

// ---------------------------------------------------------------------------------------------
// Commands

void PhoneSession::Dispatch(const std::vector<std::uint8_t>& payload) {
    controlAllowed_ = false;
    if (stage_ == SimStage::BootIdle || stage_ == SimStage::BootLoader)
        DispatchBoot(payload);
    else
        DispatchModule(payload);
}

void PhoneSession::DispatchBoot(const std::vector<std::uint8_t>& p) {
    const std::uint8_t code = p[0];
    if (stage_ == SimStage::BootIdle && code != CMD_DOWNLOAD_START)
        return Refuse(NAK_INVALID_CMD,
                      FormatText("command 0x%02X before the download start request", code));
    const bool uart = config_.link == SimLink::Uart;
    switch (code) {
        case CMD_DOWNLOAD_START:
            if (p.size() != 1) break;
            if (stage_ == SimStage::BootLoader) unit_.note = "boot loader dialogue started over";
            stage_ = SimStage::BootLoader;
            versionChecked_ = moduleCopied_ = baudSwitched_ = false;
            if (unit_.kind != SimUnitKind::RawFrame)
                compressionAsked_ = compressionAcked_ = rawMode_ = false;
            return Accept();
        case CMD_VERSION_CHECK: {
            if (p.size() != 5 || p[3] != 0 || p[4] != 0) break;
            if (versionChecked_ || compressionAsked_ || moduleCopied_ || baudSwitched_)
                return Refuse(NAK_INVALID_CMD,
                              "version check out of sequence (once, before the mode request)");
            versionChecked_ = true;
            const std::uint16_t version = Le16(&p[1]);
            if (plan_.refuseVersion)
                return Refuse(NAK_FAILED, FormatText("version 0x%04X refused (fault)", version),
                              false);
            if (config_.version >= 0 && version != config_.version)
                return Refuse(NAK_FAILED,
                              FormatText("version 0x%04X differs from the phone's 0x%04X", version,
                                         config_.version),
                              false);
            return Accept();
        }
        case CMD_COMPRESSED:
            if (p.size() != 2) break;
            if (p[1] != COMPRESSED_REQUEST)
                return Refuse(NAK_INVALID_CMD, "block data in the boot loader (no range erased)");
            if (moduleCopied_ || baudSwitched_)
                return Refuse(NAK_INVALID_CMD, "compressed-mode request after the module copy");
            compressionAsked_ = true;
            if (config_.compression == SimCompression::Refused)
                return Refuse(NAK_INVALID_CMD, "compressed mode not supported", false);
            if (config_.compression == SimCompression::Silent)
                return Silent("compressed mode request left unanswered");
            compressionAcked_ = true;
            if (config_.link == SimLink::Usb) rawMode_ = true;
            return Accept();
        case CMD_MODULE_COPY:
            if (p.size() != 1) break;
            if (!uart) return Refuse(NAK_INVALID_CMD, "module copy on the USB link");
            if (moduleCopied_ || baudSwitched_)
                return Refuse(NAK_INVALID_CMD, "module copy out of sequence");
            moduleCopied_ = true;
            return Accept();
        case CMD_BAUD_SWITCH:
            if (p.size() != 2) break;
            if (!uart) return Refuse(NAK_INVALID_CMD, "baud switch on the USB link");
            if (!moduleCopied_ || baudSwitched_)
                return Refuse(NAK_INVALID_CMD,
                              "baud switch out of sequence (after the module copy, once)");
            if (p[1] != BAUD_115200)
                return Refuse(NAK_INVALID_CMD, FormatText("unknown rate code 0x%02X", p[1]));
            baudSwitched_ = true;
            counters_.baudSwitchRate = 115200;
            return Accept();
        case CMD_JUMP:
            if (p.size() != 1) break;
            if (uart && (!moduleCopied_ || !baudSwitched_))
                return Refuse(NAK_INVALID_CMD,
                              "jump on UART without the module copy and the baud switch");
            stage_ = SimStage::ModuleEntered;
            Accept();
            // The answer above still goes out at the old rate.
            if (baudSwitched_) counters_.phoneRate = 115200;
            return;
        case CMD_ERASE:
        case CMD_WRITE_DATA:
            return Refuse(NAK_INVALID_CMD, FormatText("command 0x%02X in the boot loader", code));
        default:
            return Refuse(NAK_INVALID_CMD, FormatText("unknown command 0x%02X", code));
    }
    Refuse(NAK_INVALID_CMD,
           FormatText("command 0x%02X with a payload of %zu bytes", code, p.size()));
}

void PhoneSession::DispatchModule(const std::vector<std::uint8_t>& p) {
    const std::uint8_t code = p[0];
    if (stage_ == SimStage::ModuleEntered) {
        if (code != CMD_DOWNLOAD_START || p.size() != 1)
            return Refuse(
                NAK_INVALID_CMD,
                FormatText("command 0x%02X before the download module's start request", code));
        stage_ = SimStage::DownloadModule;
        return Accept();
    }
    switch (code) {
        case CMD_ERASE:
            return Erase(p);
        case CMD_WRITE_DATA:
            return WriteData(p);
        case CMD_COMPRESSED:
            if (p.size() < 2) break;
            if (p[1] == COMPRESSED_REQUEST)
                return Refuse(NAK_INVALID_CMD, "compressed-mode request in the download module");
            return CompressedPacket(p);
        case CMD_JUMP: {
            if (p.size() != 1) break;
            if (const std::string why = RangeUnfinished("reset jump"); !why.empty())
                return Refuse(NAK_INVALID_CMD, why);
            unit_.note = "reset jump";
            Accept();
            answer_.resetJump = true;
            ++counters_.resets;
            ResetToBoot();
            return;
        }
        case CMD_DOWNLOAD_START:
            return Refuse(NAK_INVALID_CMD, "download start request again in the download module");
        default:
            return Refuse(NAK_INVALID_CMD,
                          FormatText("command 0x%02X in the download module", code));
    }
    Refuse(NAK_INVALID_CMD,
           FormatText("command 0x%02X with a payload of %zu bytes", code, p.size()));
}

void PhoneSession::Erase(const std::vector<std::uint8_t>& p) {
    if (p.size() != 9)
        return Refuse(NAK_INVALID_CMD,
                      FormatText("erase with a payload of %zu bytes (9 expected)", p.size()));
    if (const std::string why = RangeUnfinished("erase"); !why.empty())
        return Refuse(NAK_INVALID_CMD, why);
    const std::uint64_t address = Le32(&p[1]);
    const std::uint64_t length = Le32(&p[5]);
    unit_.address = static_cast<std::uint32_t>(address);
    if (length == 0) return Refuse(NAK_FAILED, "erase of 0 bytes", false);
    if (address + length > config_.flashSize)
        return Refuse(NAK_TOO_LARGE,
                      FormatText("erase %s..%s beyond the flash (%s bytes)", Hex(address).c_str(),
                                 Hex(address + length).c_str(), Hex(config_.flashSize).c_str()),
                      false);
    flash_.Erase(address, length);
    image_ = Image{true, address, length, 0};
    stream_.clear();
    streamFlag_ = 0;
    usbBlocksLeft_ = UsbNormal() ? (length + kDataBlockSize - 1) / kDataBlockSize : 0;
    await_ = Await::None;
    ++counters_.erases;
    answer_.delayMs += config_.eraseMs + config_.eraseMsPer64K * static_cast<std::uint32_t>(
                                                                     (length + 0xFFFF) / 0x10000);
    unit_.note = FormatText("erased %s..%s", Hex(address).c_str(), Hex(address + length).c_str());
    Accept();
}

void PhoneSession::WriteData(const std::vector<std::uint8_t>& p) {
    if (config_.link != SimLink::Uart || compressionAcked_)
        return Refuse(NAK_INVALID_CMD, "0xDD write in the " + ModeName() + " mode");
    if (p.size() < 7) return Refuse(NAK_INVALID_CMD, "0xDD without its 6-byte header");
    const std::uint32_t address = Le32(&p[1]);
    const std::size_t length = Le16(&p[5]);
    unit_.address = address;
    if (p.size() != 7 + length)
        return Refuse(NAK_FAILED, FormatText("0xDD header says %zu bytes, the frame carries %zu",
                                             length, p.size() - 7));
    if (length > kMaxWriteData)
        return Refuse(NAK_TOO_LARGE, FormatText("0xDD with %zu bytes (at most 4,096)", length));
    const std::string problem = Store(address, &p[7], length, kMaxWriteData);
    if (!problem.empty()) return Refuse(NAK_FAILED, problem);
    Accept();
}

void PhoneSession::CompressedPacket(const std::vector<std::uint8_t>& p) {
    if (!compressionAcked_)
        return Refuse(NAK_INVALID_CMD, "compressed block data in the " + ModeName() + " mode");
    const std::uint8_t flag = p[1];
    if (flag != COMPRESSED_CONTINUES && flag != UNCOMPRESSED_CONTINUES && flag != COMPRESSED_LAST)
        return Refuse(NAK_INVALID_CMD, FormatText("unknown block flag 0x%02X", flag));
    if (!ImageIncomplete())
        return Refuse(NAK_FAILED, image_.active ? "block data beyond the erased range"
                                                : "block data before any erase");
    const std::size_t chunk =
        config_.link == SimLink::Usb ? kUsbCompressedChunk : kUartCompressedChunk;
    const std::uint8_t* data = p.data() + 2;
    const std::size_t length = p.size() - 2;
    if (length > chunk)
        return Refuse(NAK_TOO_LARGE,
                      FormatText("packet with %zu block bytes (at most %zu)", length, chunk));
    if (flag != COMPRESSED_LAST) {
        if (length != chunk)
            return Refuse(NAK_FAILED,
                          FormatText("packet with %zu block bytes that is not the block's last "
                                     "(%zu expected)",
                                     length, chunk));
        if (streamFlag_ != 0 && streamFlag_ != flag)
            return Refuse(NAK_FAILED,
                          FormatText("block flag changes from 0x%02X to 0x%02X within a block",
                                     streamFlag_, flag));
        if (stream_.size() + length > kStreamMax)
            return Refuse(NAK_TOO_LARGE, "block stream longer than 65,544 bytes");
        stream_.insert(stream_.end(), data, data + length);
        streamFlag_ = flag;
        return Accept();
    }
    if (length == 0) return Refuse(NAK_FAILED, "last packet without block bytes");
    if (stream_.size() + length > kStreamMax)
        return Refuse(NAK_TOO_LARGE, "block stream longer than 65,544 bytes");

    std::vector<std::uint8_t> stream = stream_;
    stream.insert(stream.end(), data, data + length);
    std::vector<std::uint8_t> block;
    if (streamFlag_ == UNCOMPRESSED_CONTINUES) {
        if (stream.size() != kStreamMax)
            return Refuse(NAK_FAILED,
                          FormatText("uncompressed block stream of %zu bytes (65,544 expected)",
                                     stream.size()));
        block = std::move(stream);
    } else {
        if (!LzoReady()) return Refuse(NAK_FAILED, "LZO library check failed");
        block.resize(kStreamMax);
        lzo_uint outLength = block.size();
        const int rc =
            lzo1x_decompress_safe(stream.data(), stream.size(), block.data(), &outLength, nullptr);
        if (rc != LZO_E_OK)
            return Refuse(NAK_FAILED,
                          FormatText("block stream of %zu bytes does not decompress (LZO "
                                     "error %d)",
                                     stream.size(), rc));
        block.resize(outLength);
        if (block.size() < kBlockHeader)
            return Refuse(NAK_FAILED, "block decompresses to less than its header");
        const std::size_t said = Le32(&block[4]);
        if (block.size() != kBlockHeader + said)
            return Refuse(NAK_FAILED,
                          FormatText("block header says %zu bytes, the stream decompresses to "
                                     "%zu after the header",
                                     said, block.size() - kBlockHeader));
        if (stream.size() >= block.size())
            return Refuse(NAK_FAILED,
                          FormatText("compressed stream of %zu bytes is not smaller than its "
                                     "%zu-byte block (it goes uncompressed)",
                                     stream.size(), block.size()));
    }
    const std::uint32_t address = Le32(&block[0]);
    const std::size_t said = Le32(&block[4]);
    unit_.address = address;
    if (said > kLzoBlockSize)
        return Refuse(NAK_FAILED, FormatText("block header says %zu bytes (at most 65,536)", said));
    const std::string problem = Store(address, block.data() + kBlockHeader, said, kLzoBlockSize);
    if (!problem.empty()) return Refuse(NAK_FAILED, problem);
    unit_.note = FormatText("%s block of %zu bytes at %s",
                            streamFlag_ == UNCOMPRESSED_CONTINUES ? "uncompressed" : "compressed",
                            said, Hex(address).c_str());
    stream_.clear();
    streamFlag_ = 0;
    Accept();
}

std::string PhoneSession::RangeUnfinished(const char* what) const {
    if (!ImageIncomplete() && stream_.empty()) return {};
    return FormatText("%s while the range at %s is written only up to %s of %s bytes", what,
                      Hex(image_.start).c_str(), Hex(image_.written).c_str(),
                      Hex(image_.length).c_str());
}

std::string PhoneSession::Store(std::uint64_t address, const std::uint8_t* data, std::size_t length,
                                std::size_t unitSize) {
    if (!image_.active) return "data before any erase";
    if (!ImageIncomplete())
        return FormatText("data at %s beyond the erased range %s..%s", Hex(address).c_str(),
                          Hex(image_.start).c_str(), Hex(image_.start + image_.length).c_str());
    const std::uint64_t next = image_.start + image_.written;
    if (address != next)
        return FormatText("data for %s where %s comes next (range %s..%s)", Hex(address).c_str(),
                          Hex(next).c_str(), Hex(image_.start).c_str(),
                          Hex(image_.start + image_.length).c_str());
    const std::uint64_t expected =
        std::min<std::uint64_t>(unitSize, image_.length - image_.written);
    if (length != expected)
        return FormatText("%zu bytes at %s where %llu are expected", length, Hex(address).c_str(),
                          static_cast<unsigned long long>(expected));
    flash_.Write(address, data, length);
    image_.written += length;
    counters_.bytesWritten += length;
    unit_.address = static_cast<std::uint32_t>(address);
    unit_.written = length;
    return {};
}

// ---------------------------------------------------------------------------------------------
// Answers, faults, record

bool PhoneSession::Admit(bool isData) {
    answer_.unit = true;
    answer_.answerRate = counters_.phoneRate;
    ++counters_.units;
    if (unit_.kind != SimUnitKind::CommandFrame && unit_.kind != SimUnitKind::RawFrame)
        ++counters_.dataUnits;
    // The fault plan counts every unit, and data units apart.
    ++faultUnits_;
    if (isData) ++faultDataUnits_;
    if (plan_.silentFromUnit != 0 &&
        (plan_.silentDataOnly ? (isData && faultDataUnits_ >= plan_.silentFromUnit)
                              : faultUnits_ >= plan_.silentFromUnit))
        silentLatched_ = true;
    if (silentLatched_) {
        Silent("silent (fault)");
        return false;
    }
    pendingLateMs_ = plan_.lateMs != 0 && faultUnits_ >= plan_.lateFromUnit ? plan_.lateMs : 0;
    if (strayPending_ > 0) {
        const std::string why =
            FormatText("%zu stray byte(s) before this unit%s", strayPending_,
                       strayNonZeroPad_ ? " (non-zero padding after a frame)" : "");
        strayPending_ = 0;
        strayNonZeroPad_ = false;
        Refuse(NAK_INVALID_FCS, why);
        return false;
    }
    const std::uint64_t nakIndex = plan_.nakDataOnly ? (isData ? faultDataUnits_ : 0) : faultUnits_;
    if (nakIndex > plan_.nakSkip && nakIndex <= plan_.nakSkip + plan_.nakCount) {
        Refuse(plan_.nakCode, FormatText("NAK 0x%02X (fault)", plan_.nakCode), false);
        return false;
    }
    return true;
}

void PhoneSession::Reply(std::uint8_t code, std::vector<std::uint8_t> bytes) {
    unit_.answered = true;
    unit_.answer = code;
    ++faultAnswers_;
    if (!plan_.strayBytes.empty() && faultAnswers_ > plan_.straySkip &&
        faultAnswers_ <= plan_.straySkip + plan_.strayCount)
        bytes.insert(bytes.begin(), plan_.strayBytes.begin(), plan_.strayBytes.end());
    answer_.bytes = std::move(bytes);
    answer_.delayMs += pendingLateMs_;
    pendingLateMs_ = 0;
    Commit(unit_);
}

void PhoneSession::Accept(std::uint8_t code) {
    if (code == RSP_ACK) ++counters_.acks;
    Reply(code, {kFrameFlag, code, kFrameFlag});
}

void PhoneSession::Refuse(std::uint8_t code, const std::string& note, bool isError) {
    unit_.isError = isError;
    unit_.note = note;
    ++counters_.naks;
    Reply(code, {kFrameFlag, code, kFrameFlag});
}

void PhoneSession::Silent(const std::string& note) {
    unit_.note = note;
    ++counters_.silentUnits;
    pendingLateMs_ = 0;
    Commit(unit_);
}

void PhoneSession::SendEcho(const std::uint8_t* block) {
    ++faultEchoes_;
    std::uint8_t echoed[kDataBlockSize];
    std::memcpy(echoed, block, kDataBlockSize);
    if (faultEchoes_ > plan_.corruptEchoSkip &&
        faultEchoes_ <= plan_.corruptEchoSkip + plan_.corruptEchoCount) {
        echoed[0] ^= 0x01;  // any single-bit change alters the CRC
        unit_.note += unit_.note.empty() ? "echo corrupted (fault)" : "; echo corrupted (fault)";
    }
    ++counters_.acks;
    ++counters_.echoes;
    Reply(RSP_ACK, PhoneAckEcho(echoed, kDataBlockSize));
}

void PhoneSession::Commit(SimRecordEntry& entry) {
    entry.index = counters_.units;
    entry.timeMs = NowMs();
    entry.bytesReceived = counters_.bytesReceived;
    if (entry.isError) {
        ++counters_.errors;
        errors_.push_back(entry.note);
    }
    if (entry.kind == SimUnitKind::LineEvent)
        events_.emplace_back(entry.note, entry.isError);
    else if (entry.isError)
        events_.emplace_back(
            FormatText("unit %llu (%s 0x%02X): %s", static_cast<unsigned long long>(entry.index),
                       SimUnitKindName(entry.kind), entry.command, entry.note.c_str()),
            true);
    else if (config_.eventPerUnit)
        events_.emplace_back(DescribeEntry(entry), false);
    if (record_.size() < config_.recordLimit) record_.push_back(std::move(entry));
}

void PhoneSession::Note(const std::string& text, bool isError) {
    SimRecordEntry entry;
    entry.kind = SimUnitKind::LineEvent;
    entry.note = text;
    entry.isError = isError;
    Commit(entry);
}

// ---------------------------------------------------------------------------------------------
// Session life

void PhoneSession::ResetToBoot() {
    stage_ = SimStage::BootIdle;
    versionChecked_ = compressionAsked_ = compressionAcked_ = rawMode_ = false;
    moduleCopied_ = baudSwitched_ = false;
    counters_.phoneRate = 57600;
    image_ = Image{};
    stream_.clear();
    streamFlag_ = 0;
    usbBlocksLeft_ = 0;
    await_ = Await::None;
    controlAllowed_ = false;
}

void PhoneSession::LineClosed() {
    ++counters_.lineCloses;
    const bool partial = in_ != In::Idle && in_ != In::Padding;
    ClearInput();
    if (!config_.resetOnClose) {
        if (partial) Note("line closed by the tool; partial unit dropped", false);
        return;
    }
    if (stage_ != SimStage::BootIdle) {
        ++counters_.abandonedSessions;
        Note(FormatText("line closed by the tool in the %s; session abandoned, back to the boot "
                        "loader",
                        SimStageName(stage_)),
             false);
        ResetToBoot();
    }
}

void PhoneSession::HungUp() {
    ++counters_.hangups;
    ClearInput();
    Note(FormatText("line hung up after %llu bytes (fault)",
                    static_cast<unsigned long long>(faultBytes_)),
         false);
    ResetToBoot();
}

void PhoneSession::PowerCycle() {
    ClearInput();
    if (stage_ != SimStage::BootIdle) ++counters_.abandonedSessions;
    ResetToBoot();
    Note("power cycle: requested", false);
}

void PhoneSession::SetFaults(const SimFaultPlan& plan) {
    plan_ = plan;
    faultUnits_ = faultDataUnits_ = faultEchoes_ = faultAnswers_ = faultBytes_ = 0;
    silentLatched_ = false;
}

std::uint64_t PhoneSession::BytesUntilHangup() const {
    if (plan_.hangupAfterBytes == 0) return std::numeric_limits<std::uint64_t>::max();
    return plan_.hangupAfterBytes > faultBytes_ ? plan_.hangupAfterBytes - faultBytes_ : 0;
}

std::string PhoneSession::ModeName() const {
    if (config_.link == SimLink::Usb) return compressionAcked_ ? "compressed USB" : "normal USB";
    return compressionAcked_ ? "compressed UART" : "normal UART";
}

}  // namespace zembra

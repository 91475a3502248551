#include "multi/MSBDLU.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <exception>

#include "multi/MultiHost.h"
#include "platform/Helpers.h"
#include "platform/MainThread.h"
#include "protocol/BlockTransfer.h"
#include "job/ImageLayout.h"
#include "protocol/ProtocolCodes.h"

namespace zembra {

namespace {

// Cuts a UTF-8 text to at most limit bytes without splitting a character.
std::string CutText(const std::string& text, std::size_t limit) {
    if (text.size() <= limit) return text;
    std::size_t end = limit;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
    return text.substr(0, end);
}

std::uint32_t FileLength(std::FILE* file) {
    if (std::fseek(file, 0, SEEK_END) != 0) return 0;
    const long size = std::ftell(file);
    std::rewind(file);
    if (size < 0) return 0;
    return static_cast<std::uint64_t>(size) > 0xFFFFFFFFu ? 0xFFFFFFFFu
                                                          : static_cast<std::uint32_t>(size);
}

long long NowWholeMs() {
    return static_cast<long long>(NowMs());
}

}  // namespace

MultiSingleBoxDLU::MultiSingleBoxDLU(MainThread& mainThread, MultiPortOps& ports, MultiLogSink& log,
                                     LzoShared& lzo, const MultiStartTiming& timing)
    : mainThread_(mainThread),
      ports_(ports),
      logSink_(log),
      lzo_(lzo),
      timing_(timing),
      outputBuffer_(new std::uint8_t[kOutputBufferSize]()),
      blockArea_(new std::uint8_t[kBlockHeaderSize + kLzoBlockSize]()),
      compressedArea_(new std::uint8_t[kCompressedAreaSize]()),
      packetBuffer_(new std::uint8_t[kPacketBufferSize]()),
      rxBuffer_(new std::uint8_t[kRxBufferSize]()) {
    static_assert(LzoOutputBound(kBlockHeaderSize + kLzoBlockSize) <= kCompressedAreaSize);
    thread_ = std::thread([this] { ThreadMain(); });
}

MultiSingleBoxDLU::~MultiSingleBoxDLU() {
    {
        std::lock_guard<std::mutex> lock(threadMutex_);
        terminate_ = true;
    }
    terminating_.store(true);
    threadCv_.notify_all();
    { std::lock_guard<std::mutex> lock(rxMutex_); }
    rxCv_.notify_all();
    if (thread_.joinable()) thread_.join();
    CloseImage();
}

void MultiSingleBoxDLU::Configure(const MultiWorkerConfig& config) {
    config_ = config;
    mode_ = config.mode;
    rawUsbFrames_ = false;
    runState_.store(RUN_IDLE);
    std::lock_guard<std::mutex> lock(rxMutex_);
    responseArrived_ = false;
    rxCount_ = 0;
}

void MultiSingleBoxDLU::Resume() {
    {
        std::lock_guard<std::mutex> lock(threadMutex_);
        ++resumeCount_;
    }
    threadCv_.notify_all();
}

bool MultiSingleBoxDLU::RequestStop() {
    int expected = RUN_RUNNING;
    const bool stopped = runState_.compare_exchange_strong(expected, RUN_STOP_REQUESTED);
    if (stopped) {
        // Taking the lock orders the store before a waiter's predicate check.
        { std::lock_guard<std::mutex> lock(rxMutex_); }
        rxCv_.notify_all();
    }
    return stopped;
}

void MultiSingleBoxDLU::SetRunning() {
    runState_.store(RUN_RUNNING);
}

void MultiSingleBoxDLU::ResetDisplayFields() {
    currentImage_.store(0);
    percent_.store(0);
    progressCount_.store(0);
}

// ---- thread --------------------------------------------------------------------------

void MultiSingleBoxDLU::ThreadMain() {
    unsigned long seen = 0;
    for (;;) {
        {
            std::unique_lock<std::mutex> lock(threadMutex_);
            threadCv_.wait(lock, [&] { return terminate_ || resumeCount_ != seen; });
            if (terminate_) return;
            seen = resumeCount_;
        }
        Execute();
    }
}

void MultiSingleBoxDLU::SleepMs(int ms) {
    if (ms <= 0) return;
    std::unique_lock<std::mutex> lock(threadMutex_);
    threadCv_.wait_for(lock, std::chrono::milliseconds(ms), [&] { return terminate_; });
}

// One pass of the worker's loop, from its wake-up to the point where it suspends itself.
void MultiSingleBoxDLU::Execute() {
    SleepMs(timing_.wakeDelayMs);
    const int slot = config_.slot;
    const int state = runState_.load();
    if (state == RUN_STOP_REQUESTED) {
        // Stopped before the run began: the slot still ends as stopped, with its line, and
        // its port (opened by the Start) is closed.
        endCode_.store(END_STOPPED);
        endMs_.store(NowWholeMs());
        Log("케이블을 제거 하세요", COLOUR_RED);
        RunBridge(CloseSlotPort);
    } else if (state == RUN_RUNNING) {
        endCode_.store(END_IN_PROGRESS);
        shownPercent_ = -1;
        shownOffset_ = -1;
        startMs_.store(NowWholeMs());
        endMs_.store(0);
        SleepMs(slot * timing_.staggerMs);
        RunSequence();
        endMs_.store(NowWholeMs());
        if (!stopRequested()) {
            Log("다운 로드 종료", COLOUR_BLUE);
        } else {
            endCode_.store(END_STOPPED);
            Log("케이블을 제거 하세요", COLOUR_RED);
        }
        RunBridge(CloseSlotPort);
    }
    // Nothing of the configuration is touched after this store: the next Start may
    // configure the worker as soon as it sees runState 0.
    runState_.store(RUN_IDLE);
    // The notice may run after this worker (and its multi download) went away: it only
    // reaches the sink while the worker lives.
    MultiLogSink& sink = logSink_;
    mainThread_.Post([alive = std::weak_ptr<char>(lifeToken_), &sink, slot] {
        if (alive.lock()) sink.SlotRunEnded(slot);
    });
}

// ---- bridge --------------------------------------------------------------------------

void MultiSingleBoxDLU::RunBridge(BridgeKind kind) {
    if (terminating_.load()) return;
    bridgeKind_ = kind;
    mainThread_.RunAndWait([this] { BridgeWork(); });
}

void MultiSingleBoxDLU::BridgeWork() {
    switch (bridgeKind_) {
        case LogLine:
            logSink_.LogSlot(config_.portName, messageText, bridgeColour_);
            break;
        case SendCommand: {
            std::uint8_t* out = outputBuffer_.get();
            std::memset(out, 0, kCommandClearSize);
            std::size_t length;
            if (mode_ == USB_PPV && rawUsbFrames_) {
                length = BuildRawFrame(out, commandBuffer_.data(), byteParam_);
            } else {
                length = codec_.Encode(out, commandBuffer_.data(), byteParam_);
                if ((mode_ >> 8) == 0x01) length = PadForUsb(out, length);
            }
            {
                std::lock_guard<std::mutex> lock(rxMutex_);
                responseArrived_ = false;
            }
            try {
                ports_.WriteMulti(config_.slot, out, length);
            } catch (const std::exception& error) {
                // The missing answer ends the step; the operator also sees why.
                logSink_.LogSlot(config_.portName, FormatText("포트 쓰기 오류: %s", error.what()),
                                 COLOUR_RED);
            }
            break;
        }
        case ShowNak:
            if (const char* text = NakText(byteParam_))
                logSink_.LogSlot(config_.portName, text, COLOUR_BLUE);
            break;
        case CloseSlotPort:
            ports_.CloseMultiPort(config_.slot);
            break;
        case WriteRaw: {
            {
                std::lock_guard<std::mutex> lock(rxMutex_);
                responseArrived_ = false;
            }
            try {
                ports_.WriteMulti(config_.slot, outputBuffer_.get(),
                                  static_cast<std::size_t>(intParam_));
            } catch (const std::exception& error) {
                logSink_.LogSlot(config_.portName, FormatText("포트 쓰기 오류: %s", error.what()),
                                 COLOUR_RED);
            }
            break;
        }
        case ShowProgress:
            progressCount_.store(static_cast<int>(intParam_));
            percent_.store(byteParam_);
            break;
    }
}

void MultiSingleBoxDLU::Log(const std::string& text, std::uint32_t colour) {
    messageText = CutText(text, kMessageLimit);
    bridgeColour_ = colour;
    RunBridge(LogLine);
}

int MultiSingleBoxDLU::SendAndWait(const std::uint8_t* payload, std::size_t length,
                                   long long ticks) {
    length = std::min(length, commandBuffer_.size());
    std::memcpy(commandBuffer_.data(), payload, length);
    byteParam_ = static_cast<std::uint8_t>(length);
    RunBridge(SendCommand);
    return WaitResponse(ticks);
}

bool MultiSingleBoxDLU::ResponseTaken(int wait) {
    if (wait == 0) Log("응답이없습니다", COLOUR_RED);
    if (wait == 3) Log("다운로드가 중단 됩니다", COLOUR_BLUE);
    return wait == 2;
}

void MultiSingleBoxDLU::RunShowNak(std::uint8_t code) {
    byteParam_ = code;
    RunBridge(ShowNak);
}

void MultiSingleBoxDLU::RunWriteRaw(std::size_t length) {
    intParam_ = static_cast<std::int64_t>(length);
    RunBridge(WriteRaw);
}

void MultiSingleBoxDLU::RunShowProgress(std::uint32_t rangeStart, std::uint32_t size,
                                        std::uint32_t offset, std::size_t sent) {
    const int percent =
        BlockTransfer::Percent(rangeStart, size, offset, static_cast<std::int64_t>(sent));
    // Only a change is handed to the main thread: one hand-off per packet is enough.
    if (percent == shownPercent_ && static_cast<std::int64_t>(offset) == shownOffset_) return;
    shownPercent_ = percent;
    shownOffset_ = offset;
    byteParam_ = static_cast<std::uint8_t>(percent);
    intParam_ = offset;
    RunBridge(ShowProgress);
}

void MultiSingleBoxDLU::Pause() {
    SleepMs(config_.cmdGapMs);
}

// ---- receive path --------------------------------------------------------------------

void MultiSingleBoxDLU::ReceiveBytes(const std::uint8_t* data, std::size_t count) {
    if (runState_.load() == RUN_IDLE) return;
    bool arrived = false;
    {
        std::lock_guard<std::mutex> lock(rxMutex_);
        std::uint8_t* buffer = rxBuffer_.get();
        for (std::size_t i = 0; i < count; ++i) {
            const std::uint8_t byte = data[i];
            if (rxCount_ >= kRxBufferSize) continue;  // full: dropped until a frame is taken
            const bool closes = rxCount_ != 0 && byte == kFrameFlag;
            buffer[rxCount_++] = byte;
            if (closes) {
                responseArrived_ = true;
                arrived = true;
                break;  // the rest of the chunk is dropped
            }
        }
    }
    if (arrived) rxCv_.notify_all();
}

int MultiSingleBoxDLU::WaitResponse(long long ticks) {
    if (ticks <= 0) return 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ticks);
    std::unique_lock<std::mutex> lock(rxMutex_);
    rxCv_.wait_until(lock, deadline, [&] {
        return responseArrived_ || runState_.load() == RUN_STOP_REQUESTED || terminating_.load();
    });
    if (responseArrived_) {
        // Drop the opening flag: the response code comes first. The frame is copied out so
        // that bytes arriving later never change what the worker examines.
        const std::size_t length = rxCount_ > 0 ? rxCount_ - 1 : 0;
        responseLength_ = std::min(length, kResponseKeep);
        response_.fill(0);
        std::memcpy(response_.data(), rxBuffer_.get() + 1, responseLength_);
        responseArrived_ = false;
        rxCount_ = 0;
        ++responsesTaken_;
        return 2;
    }
    if (runState_.load() == RUN_STOP_REQUESTED || terminating_.load()) return 3;
    return 0;
}

// ---- sequence ------------------------------------------------------------------------

void MultiSingleBoxDLU::RunSequence() {
    startMs_.store(NowWholeMs());
    if (!RequestStart()) {
        endCode_.store(END_START_FAILED);
        return;
    }
    if (!CheckVersion()) {
        endCode_.store(END_VERSION_FAILED);
        return;
    }
    if (!SelectMode()) {
        endCode_.store(END_MODE_FAILED);
        return;
    }
    if (!EnterDownloadModule()) {
        endCode_.store(END_MODULE_FAILED);
        return;
    }
    for (int i = 0; i < ImageSlot::Count && !stopRequested(); ++i) {
        if (!OpenImage(i)) continue;
        if (!CheckImage(i)) {
            endCode_.store(END_IMAGE_CHECK_FAILED);
            return;
        }
        percent_.store(0);
        shownPercent_ = -1;
        shownOffset_ = -1;
        currentImage_.store(i);
        erasing_.store(1);
        if (!EraseRange()) {
            erasing_.store(0);
            endCode_.store(END_ERASE_FAILED);
            return;
        }
        erasing_.store(0);
        if (!WriteImage()) {
            endCode_.store(END_TRANSFER_FAILED);
            return;
        }
        percent_.store(100);
    }
    CloseImage();
    Log("리셋 코드 점프 요청", COLOUR_BLACK);
    const std::uint8_t jump[] = {CMD_JUMP};
    SendAndWait(jump, sizeof jump, config_.normalResponseWaitMs);
    const long long elapsed = NowWholeMs() - startMs_.load();
    Log(FormatText("다운로드 소요 시간:%02d분 %02d초", static_cast<int>(elapsed / 60000),
                   static_cast<int>((elapsed / 1000) % 60)),
        COLOUR_BLACK);
    endCode_.store(END_FINISHED);
}

bool MultiSingleBoxDLU::RequestStart() {
    rawUsbFrames_ = false;
    Log("다운로드 시작 요청", COLOUR_BLACK);
    const std::uint8_t start[] = {CMD_DOWNLOAD_START};
    if (!ResponseTaken(SendAndWait(start, sizeof start, config_.normalResponseWaitMs)))
        return false;
    if (responseCode() != RSP_ACK) {
        if (config_.showInvalidFcsNak && responseCode() != NAK_INVALID_FCS)
            RunShowNak(responseCode());
        Log("응답오류 다운로드를 중단합니다.", COLOUR_RED);
        return false;
    }
    Pause();
    return true;
}

bool MultiSingleBoxDLU::CheckVersion() {
    CloseImage();
    const std::string& path = config_.imagePaths[ImageSlot::Code];
    if (path.empty()) return true;
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) {
        Log("다운로드가 중단 됩니다. 코드파일 없음", COLOUR_BLUE);
        return false;
    }
    std::uint16_t version = 0;
    std::uint32_t boot = 0;
    // A file shorter than its trailer has no version word; 0 goes out and the image
    // check refuses the file later.
    if (!ReadImageTrailer(file, FileLength(file), version, boot)) version = 0;
    std::fclose(file);

    Log("버전 확인 요청", COLOUR_BLACK);
    const std::uint8_t request[] = {CMD_VERSION_CHECK, static_cast<std::uint8_t>(version),
                                    static_cast<std::uint8_t>(version >> 8), 0x00, 0x00};
    if (!ResponseTaken(SendAndWait(request, sizeof request, config_.normalResponseWaitMs)))
        return false;
    if (responseCode() != RSP_ACK) {
        Log("요청한 버전이 틀립니다.", COLOUR_BLUE);
        if (config_.versionCheck) {
            Log("다운로드를 중단 합니다. 버전 검사 사용을 중지하려면 버전 검사를 사용 안함으로 "
                "설정 하세요",
                COLOUR_RED);
            return false;
        }
        Log("다운로드를 계속 합니다. 버전 검사 안함으로 설정되었음", COLOUR_BLUE);
    }
    Pause();
    return true;
}

bool MultiSingleBoxDLU::SelectMode() {
    const std::uint8_t request[] = {CMD_COMPRESSED, COMPRESSED_REQUEST};
    if (mode_ == USB_AUTO) {
        Log("USB 자동 탐지 모드", COLOUR_BLACK);
        const int result = SendAndWait(request, sizeof request, config_.normalResponseWaitMs);
        if (result == 2 && responseCode() == RSP_ACK) {
            Log("압축 USB 모드", COLOUR_BLACK);
            mode_ = USB_PPV;
            rawUsbFrames_ = true;
        } else {
            Log("일반 USB 모드", COLOUR_BLACK);
            mode_ = USB_NORMAL;
        }
    }
    if (mode_ == USB_PPV) {
        if (!lzo_.Init(config_.slot)) {
            Log("lzo_init 함수 호출 실패 압축 모듈 오류 개발자에게 문의 바랍니다.!!!", COLOUR_RED);
            return false;
        }
        Log("압축 USB 모드 요청", COLOUR_BLACK);
        const int result = SendAndWait(request, sizeof request, config_.normalResponseWaitMs);
        if (result != 2 || responseCode() != RSP_ACK) {
            Log("압축 USB 모드를 사용할 수 없습니다", COLOUR_BLUE);
            return false;
        }
        rawUsbFrames_ = true;
    } else if (mode_ != USB_NORMAL) {
        // No USB protocol chosen: nothing could be sent, so the slot must not end as written.
        Log("다운로드 모드가 선택되지 않았습니다", COLOUR_RED);
        return false;
    }
    Pause();
    return true;
}

bool MultiSingleBoxDLU::EnterDownloadModule() {
    // One step: its log line, the one-byte command, an ACK wanted, the gap.
    const auto step = [this](const char* text, std::uint8_t command) {
        Log(text, COLOUR_BLACK);
        const int result = SendAndWait(&command, 1, config_.normalResponseWaitMs);
        if (result != 2 || responseCode() != RSP_ACK) {
            Log("응답 오류", COLOUR_RED);
            return false;
        }
        Pause();
        return true;
    };
    return step("다운로드 모듈 점프", CMD_JUMP) && step("다운로드 시작", CMD_DOWNLOAD_START);
}

void MultiSingleBoxDLU::CloseImage() {
    if (imageFile) {
        std::fclose(imageFile);
        imageFile = nullptr;
    }
}

bool MultiSingleBoxDLU::OpenImage(int index) {
    CloseImage();
    const std::string& path = config_.imagePaths[static_cast<std::size_t>(index)];
    if (path.empty()) return false;
    imageFile = std::fopen(path.c_str(), "rb");
    if (!imageFile) return false;
    if (index == 0) {
        Log("코드 다운로드", COLOUR_BLUE);
    } else {
        Log(FormatText("폰트%d 다운로드", index), COLOUR_BLUE);
    }
    return true;
}

bool MultiSingleBoxDLU::CheckImage(int index) {
    fileSize = FileLength(imageFile);
    std::uint16_t version = 0;
    std::uint32_t bootLocation = 0;
    const bool hasTrailer = ReadImageTrailer(imageFile, fileSize, version, bootLocation);
    std::rewind(imageFile);
    if (index == 0) {
        if (!hasTrailer || version == 0x0000 || version == 0xFFFF) {
            Log("버전 정보 오류", COLOUR_RED);
            return false;
        }
        // A boot location at or beyond the end of the file would give an empty or
        // wrapped-around range.
        if (bootLocation == 0 || bootLocation == 0xFFFFFFFFu ||
            (!config_.change && bootLocation >= fileSize)) {
            Log("부트 정보 오류", COLOUR_RED);
            return false;
        }
    }
    if (fileSize % 65536 != 0) {
        if (config_.checkBinSize64K) {
            Log("파일 크기 오류", COLOUR_RED);
            return false;
        }
        Log("파일 크기 64K의 배수가 아님 옵션에 의해 다운로드 진행됨", COLOUR_BLUE);
    }
    const TransferRange range =
        ImageTransferRange(index, fileSize, bootLocation,
                           config_.fontAddresses[static_cast<std::size_t>(index)], config_.change);
    startOffset = static_cast<std::uint32_t>(range.startOffset);
    flashAddress = range.address;
    rangeLength = range.length;
    return true;
}

bool MultiSingleBoxDLU::EraseRange() {
    Log(FormatText("메모리 시작 주소:0x%X, 메모리 끝 주소:0x%X, 파일크기:0x%X", flashAddress,
                   flashAddress + rangeLength, fileSize),
        COLOUR_BLACK);
    Log("삭제 요청 잠시만 기다려 주세요", COLOUR_BLACK);
    std::uint8_t request[9] = {CMD_ERASE};
    PutLe32(request + 1, flashAddress);
    PutLe32(request + 5, rangeLength);
    const long long eraseWaitMs = static_cast<long long>(config_.eraseWaitSec) * 1000;
    if (!ResponseTaken(SendAndWait(request, sizeof request, eraseWaitMs))) return false;
    if (responseCode() != RSP_ACK) {
        Log("삭제 요청이 취소되었습니다. 파일 크기 또는 시작 주소에 문제가 있습니다.", COLOUR_RED);
        return false;
    }
    Pause();
    return true;
}

}  // namespace zembra

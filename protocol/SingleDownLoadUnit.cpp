#include "protocol/SingleDownLoadUnit.h"

#include <lzo/lzo1x.h>
#include <sys/stat.h>

#include <chrono>

#include "platform/Helpers.h"
#include "protocol/AskOperator.h"
#include "protocol/BlockTransfer.h"
#include "job/ImageLayout.h"
#include "protocol/ProtocolCodes.h"
#include "protocol/SingleBridge.h"
#include "protocol/SingleEngine.h"

namespace zembra {

namespace {

constexpr int kStartBaud = 57600;
constexpr int kUartFastBaud = 115200;
constexpr std::uint8_t kLinkUart = 0x02;

constexpr char kNoAnswer[] = "응답이없습니다";
constexpr char kStopped[] = "다운로드가 중단 됩니다";
constexpr char kCannotExecute[] = "명령을 수행할 수 없습니다";
constexpr char kResponseError[] = "응답 오류";
constexpr char kLzoInitFailed[] =
    "lzo_init 함수 호출 실패 압축 모듈 오류 개발자에게 문의 바랍니다.!!!";
constexpr char kVersionQuestion[] =
    "요청한 BIN버전이 현재 Phone버전과 틀립니다. 다른 모델의 단말기인지 확인 바랍니다. 무시하고 "
    "다운로드 하려면 OK를 선택하세요";

std::uint8_t LinkOf(LinkProtocolCode mode) {
    return static_cast<std::uint8_t>(mode >> 8);
}

// Size of an open file; -1 when it cannot be told.
std::int64_t OpenFileSize(std::FILE* file) {
    struct stat st {};
    if (fstat(fileno(file), &st) != 0 || !S_ISREG(st.st_mode)) return -1;
    return st.st_size;
}

const char* SlotTitle(int slot) {
    static const char* const titles[ImageSlot::Count] = {
        "코드 다운로드",  "폰트1 다운로드", "폰트2 다운로드", "폰트3 다운로드",
        "폰트4 다운로드", "폰트5 다운로드", "폰트6 다운로드"};
    return titles[slot];
}

}  // namespace

SingleDownLoad::SingleDownLoad(SingleBridge& bridge, EngineTimings timings)
    : bridge_(bridge), shared_(bridge.shared()), timings_(timings) {}

SingleDownLoad::~SingleDownLoad() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        terminating_ = true;
    }
    cv_.notify_all();
    if (!thread_.joinable()) return;
    shared_.RequestStop();
    thread_.join();
}

void SingleDownLoad::Resume() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!created_) {
        created_ = true;
        suspended_ = true;
        thread_ = std::thread([this] { Execute(); });
    }
    suspended_ = false;
    ++resumes_;
    cv_.notify_all();
}

bool SingleDownLoad::Suspended() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return suspended_;
}

bool SingleDownLoad::Created() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return created_;
}

bool SingleDownLoad::SuspendSelf() {
    std::unique_lock<std::mutex> lock(mutex_);
    const unsigned long seen = resumes_;
    suspended_ = true;
    cv_.notify_all();
    cv_.wait(lock, [&] { return terminating_ || resumes_ != seen; });
    return !terminating_;
}

void SingleDownLoad::Execute() {
    // The thread starts suspended: wait for the Resume that created it.
    {
        std::unique_lock<std::mutex> lock(mutex_);
        cv_.wait(lock, [&] { return terminating_ || !suspended_; });
        if (terminating_) return;
    }
    for (;;) {
        // Step 1: the start-up sleep, cut short only by the end of the program.
        {
            std::unique_lock<std::mutex> lock(mutex_);
            cv_.wait_for(lock, std::chrono::milliseconds(timings_.startupSleepMs),
                         [&] { return terminating_; });
        }
        if (shared_.downloadEnabled.load()) {
            shared_.rawUsbFrames.store(false);
            const RunOutcome outcome = RunSequence();
            // Step 10: the end of the run, whatever the cause.
            shared_.downloadRunning.store(false);
            bridge_.ResetMarkers();
            bridge_.LogLine("다운 로드 종료", COLOUR_BLUE);
            shared_.lastOutcome.store(outcome);
            bridge_.FinishRun();
        }
        // Step 11.
        shared_.downloadEnabled.store(false);
        if (!SuspendSelf()) return;
    }
}

int SingleDownLoad::SendAndWait(const std::uint8_t* command, std::uint8_t length) {
    bridge_.SendCommand(command, length);
    return bridge_.WaitResponse(shared_.run.snapshot.normalResponseWaitMs);
}

int SingleDownLoad::SendAndWait(std::initializer_list<std::uint8_t> command) {
    return SendAndWait(command.begin(), static_cast<std::uint8_t>(command.size()));
}

bool SingleDownLoad::ResponseTaken(int rc) {
    if (rc == RESULT_NO_RESPONSE) bridge_.LogLine(kNoAnswer, COLOUR_RED);
    if (rc == RESULT_STOPPED) bridge_.LogLine(kStopped, COLOUR_BLUE);
    return rc == RESULT_DONE;
}

RunOutcome SingleDownLoad::AckStep(const char* text, std::initializer_list<std::uint8_t> command,
                                   const char* failText, std::uint32_t failColour,
                                   RunOutcome failure) {
    bridge_.LogLine(text, COLOUR_BLACK);
    const int rc = SendAndWait(command);
    if (rc != RESULT_DONE || bridge_.responseCode() != RSP_ACK) {
        bridge_.LogLine(failText, failColour);
        return rc == RESULT_STOPPED ? RunOutcome::Stopped : failure;
    }
    Pause();
    return RunOutcome::None;
}

void SingleDownLoad::Pause() {
    std::this_thread::sleep_for(std::chrono::milliseconds(shared_.run.snapshot.cmdGapMs));
}

RunOutcome SingleDownLoad::RunSequence() {
    const SingleRunConfig& run = shared_.run;
    const StartSnapshot& snap = run.snapshot;

    // Step 2: first contact.
    bridge_.SetBaud(kStartBaud);
    bridge_.LogLine("다운로드 시작 요청", COLOUR_BLACK);
    int rc = SendAndWait({CMD_DOWNLOAD_START});
    if (!ResponseTaken(rc))
        return rc == RESULT_STOPPED ? RunOutcome::Stopped : RunOutcome::NoStartAnswer;
    if (bridge_.responseCode() != RSP_ACK) {
        if (snap.showInvalidFcsNak && bridge_.responseCode() != NAK_INVALID_FCS)
            bridge_.ShowNak(bridge_.responseCode());
        bridge_.LogLine("응답오류 다운로드를 중단합니다.", COLOUR_RED);
        return RunOutcome::NoStartAnswer;
    }
    Pause();

    // Step 3: version check.
    const std::string& codePath = run.paths[ImageSlot::Code];
    if (!codePath.empty()) {
        std::FILE* file = std::fopen(codePath.c_str(), "rb");
        if (file == nullptr) {
            bridge_.LogLine("다운로드가 중단 됩니다. 코드파일 없음", COLOUR_BLUE);
            return RunOutcome::ImageFileProblem;
        }
        std::uint16_t version = 0;
        std::uint32_t boot = 0;
        const bool readable = ReadImageTrailer(file, OpenFileSize(file), version, boot);
        std::fclose(file);
        if (!readable) {
            bridge_.LogLine("버전 정보 오류", COLOUR_RED);
            return RunOutcome::ImageFileProblem;
        }
        bridge_.LogLine("버전 확인 요청", COLOUR_BLACK);
        rc = SendAndWait({CMD_VERSION_CHECK, static_cast<std::uint8_t>(version),
                          static_cast<std::uint8_t>(version >> 8), 0x00, 0x00});
        if (!ResponseTaken(rc))
            return rc == RESULT_STOPPED ? RunOutcome::Stopped : RunOutcome::VersionRefused;
        if (bridge_.responseCode() != RSP_ACK) {
            bridge_.LogLine("요청한 버전이 틀립니다. ", COLOUR_BLUE);
            if (bridge_.AskOperator(kVersionQuestion, "확인", MB_OK_CANCEL, timings_.askPollMs) !=
                ID_OK)
                return RunOutcome::VersionRefused;
        }
        Pause();
    }

    // Steps 4-5: mode negotiation.
    LinkProtocolCode mode = snap.linkProtocol;
    // No protocol button checked: the plain protocol of the link.
    if (mode == USB_NONE) mode = USB_NORMAL;
    if (mode == UART_NONE) mode = UART_NORMAL;
    shared_.mode.store(mode);
    if (mode == USB_AUTO || mode == UART_AUTO) {
        const bool usb = mode == USB_AUTO;
        bridge_.LogLine(usb ? "USB 자동 탐지 모드" : "UART 자동 탐지", COLOUR_BLACK);
        rc = SendAndWait({CMD_COMPRESSED, COMPRESSED_REQUEST});
        if (rc == RESULT_DONE && bridge_.responseCode() == RSP_ACK) {
            bridge_.LogLine(usb ? "압축 USB 모드" : "압축 UART 모드", COLOUR_BLACK);
            mode = usb ? USB_PPV : UART_PRESS;
            if (usb) shared_.rawUsbFrames.store(true);
        } else {
            bridge_.LogLine(usb ? "일반 USB 모드" : "일반 UART 모드", COLOUR_BLACK);
            mode = usb ? USB_NORMAL : UART_NORMAL;
        }
        shared_.mode.store(mode);
    }
    if (mode == USB_PPV || mode == UART_PRESS) {
        const bool usb = mode == USB_PPV;
        if (lzo_init() != LZO_E_OK) {
            bridge_.LogLine(kLzoInitFailed, COLOUR_RED);
            return RunOutcome::CompressionFailed;
        }
        bridge_.LogLine(usb ? "압축 USB 모드 요청" : "압축 UART 모드 요청", COLOUR_BLACK);
        rc = SendAndWait({CMD_COMPRESSED, COMPRESSED_REQUEST});
        if (rc != RESULT_DONE || bridge_.responseCode() != RSP_ACK) {
            bridge_.LogLine(
                usb ? "압축 USB 모드를 사용할 수 없습니다" : "압축 UART 모드를 사용할 수 없습니다",
                COLOUR_BLUE);
            return rc == RESULT_STOPPED ? RunOutcome::Stopped : RunOutcome::CompressionFailed;
        }
        if (usb) shared_.rawUsbFrames.store(true);
    }
    Pause();

    // Step 6: UART only.
    const bool uart = LinkOf(mode) == kLinkUart;
    RunOutcome failed = RunOutcome::None;
    if (uart) {
        failed = AckStep("모듈 복사", {CMD_MODULE_COPY}, kCannotExecute, COLOUR_BLUE,
                         RunOutcome::UartSetupFailed);
        if (failed == RunOutcome::None)
            failed = AckStep("통신 속도 115200 Bps 설정", {CMD_BAUD_SWITCH, BAUD_115200},
                             kCannotExecute, COLOUR_BLUE, RunOutcome::UartSetupFailed);
        if (failed != RunOutcome::None) return failed;
    }

    // Step 7: into the download module.
    failed = AckStep("다운로드 모듈 점프", {CMD_JUMP}, kResponseError, COLOUR_RED,
                     RunOutcome::JumpFailed);
    if (failed != RunOutcome::None) return failed;
    if (uart) bridge_.SetBaud(kUartFastBaud);
    failed = AckStep("다운로드 시작", {CMD_DOWNLOAD_START}, kResponseError, COLOUR_RED,
                     RunOutcome::JumpFailed);
    if (failed != RunOutcome::None) return failed;
    shared_.downloadStartMs.store(NowMs());
    shared_.downloadRunning.store(true);

    // Step 8: the images.
    const RunOutcome images = SendImages();
    if (images != RunOutcome::Completed && images != RunOutcome::ImageSkipped) return images;

    // Step 9: the reset jump; its answer is not examined.
    bridge_.LogLine("리셋 코드 점프 요청", COLOUR_BLACK);
    SendAndWait({CMD_JUMP});
    bridge_.LogLine("다운로드 소요 시간:" + ElapsedText(NowMs(), shared_.downloadStartMs.load()),
                    COLOUR_BLACK);
    return images;
}

RunOutcome SingleDownLoad::SendImages() {
    bool skipped = false;
    for (int slot = 0; slot < ImageSlot::Count; ++slot) {
        if (shared_.stopRequested.load()) return RunOutcome::Stopped;
        const std::string& path = shared_.run.paths[static_cast<std::size_t>(slot)];
        if (path.empty()) continue;
        std::FILE* file = std::fopen(path.c_str(), "rb");
        if (file == nullptr) {
            // The slot is passed over as before, but the operator must learn that a selected
            // image was not written, and the run does not count as complete.
            bridge_.LogLine(
                FormatText("%s 파일을 열 수 없어 건너뜁니다: %s", SlotCaption(slot), path.c_str()),
                COLOUR_RED);
            skipped = true;
            continue;
        }
        const RunOutcome outcome = SendImage(slot, file);
        std::fclose(file);
        if (outcome != RunOutcome::Completed) return outcome;
    }
    return skipped ? RunOutcome::ImageSkipped : RunOutcome::Completed;
}

RunOutcome SingleDownLoad::SendImage(int slot, std::FILE* file) {
    const StartSnapshot& snap = shared_.run.snapshot;
    bridge_.LogLine(SlotTitle(slot), COLOUR_BLUE);

    // Step 8d: size, trailer, 64 KiB rule.
    const std::int64_t size = OpenFileSize(file);
    std::uint16_t version = 0;
    std::uint32_t boot = 0;
    const bool hasTrailer = size >= 0 && ReadImageTrailer(file, size, version, boot);
    if (slot == ImageSlot::Code) {
        if (!hasTrailer || version == 0 || version == 0xFFFF) {
            bridge_.LogLine("버전 정보 오류", COLOUR_RED);
            return RunOutcome::ImageFileProblem;
        }
        // A boot location at or past the end of the file leaves nothing to send from it.
        if (boot == 0 || boot == 0xFFFFFFFFu ||
            (!snap.change && static_cast<std::int64_t>(boot) >= size)) {
            bridge_.LogLine("부트 정보 오류", COLOUR_RED);
            return RunOutcome::ImageFileProblem;
        }
    }
    if (size < 0) {
        bridge_.LogLine("파일 크기 오류", COLOUR_RED);
        return RunOutcome::ImageFileProblem;
    }
    if (size % 0x10000 != 0) {
        if (snap.checkBinSize64K) {
            bridge_.LogLine("파일 크기 오류", COLOUR_RED);
            return RunOutcome::ImageFileProblem;
        }
        bridge_.LogLine("파일 크기 64K의 배수가 아님 옵션에 의해 다운로드 진행됨", COLOUR_BLUE);
    }

    // Step 8e: the transfer range.
    const TransferRange range = ImageTransferRange(
        slot, size, boot, snap.address[static_cast<std::size_t>(slot)], snap.change);
    const std::int64_t startOffset = range.startOffset;
    std::uint32_t address = range.address;
    const std::uint32_t length = range.length;

    // Step 8f-g: erase.
    bridge_.ImageStarted(slot);
    bridge_.LogLine(FormatText("메모리 시작 주소:0x%X, 메모리 끝 주소:0x%X, 파일크기:0x%X", address,
                               address + length, static_cast<unsigned>(size)),
                    COLOUR_BLACK);
    bridge_.LogLine("삭제 요청 잠시만 기다려 주세요", COLOUR_BLACK);
    std::uint8_t erase[9] = {CMD_ERASE};
    PutLe32(erase + 1, address);
    PutLe32(erase + 5, length);
    bridge_.SendCommand(erase, sizeof erase);
    const long long eraseTicks = static_cast<long long>(snap.eraseWaitSec) * 1000;
    const int rc =
        bridge_.WaitResponse(static_cast<int>(eraseTicks > 0x7FFFFFFF ? 0x7FFFFFFF : eraseTicks));
    if (!ResponseTaken(rc))
        return rc == RESULT_STOPPED ? RunOutcome::Stopped : RunOutcome::EraseFailed;
    if (bridge_.responseCode() != RSP_ACK) {
        bridge_.LogLine("삭제 요청이 취소되었습니다. 파일 크기 또는 시작 주소에 문제가 있습니다.",
                        COLOUR_RED);
        return RunOutcome::EraseFailed;
    }
    Pause();
    bridge_.LogLine("프로그램 시작", COLOUR_BLACK);

    // Step 8i: the blocks.
    BlockTransfer transfer(bridge_, snap);
    const LinkProtocolCode mode = shared_.mode.load();
    std::int64_t step;
    switch (mode) {
        case USB_PPV:
        case UART_PRESS:
            step = 0x10000;
            break;
        case USB_NORMAL:
            step = 1024;
            break;
        default:
            step = 4096;
            break;
    }
    std::int64_t offset = startOffset;
    while (offset < size) {
        int result;
        switch (mode) {
            case USB_PPV:
                result = transfer.SendBlockPpvUsb(file, startOffset, size, address, offset);
                break;
            case USB_NORMAL:
                result = transfer.SendBlockNormalUsb(file, startOffset, size, address, offset);
                break;
            case UART_PRESS:
                result = transfer.SendBlockPressUart(file, startOffset, size, address, offset);
                break;
            default:
                result = transfer.SendBlockNormalUart(file, startOffset, size, address, offset);
                break;
        }
        if (result == RESULT_STOPPED) {
            bridge_.LogLine(FormatText("파일 위치 0x%X에서 다운로드가 중단 됩니다",
                                       static_cast<unsigned>(offset)),
                            COLOUR_RED);
            return RunOutcome::Stopped;
        }
        if (result == RESULT_FILE_READ_ERROR) {
            bridge_.LogLine(FormatText("파일 읽기 오류: 위치 0x%X (파일이 바뀌었습니다)",
                                       static_cast<unsigned>(offset)),
                            COLOUR_RED);
            return RunOutcome::FileReadError;
        }
        if (result != RESULT_DONE) return RunOutcome::TransferFailed;
        offset += step;
        address += static_cast<std::uint32_t>(step);
    }

    // Step 8j.
    Pause();
    bridge_.ImageDone(slot);
    return RunOutcome::Completed;
}

}  // namespace zembra

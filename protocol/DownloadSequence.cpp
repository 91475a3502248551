#include "protocol/DownloadSequence.h"

#include <cerrno>
#include <cstdio>
#include <memory>

#include "platform/Helpers.h"
#include "protocol/AskOperator.h"
#include "protocol/BlockTransfer.h"
#include "protocol/PacketCodec.h"
#include "protocol/ProtocolCodes.h"
#include "protocol/RunEvents.h"

namespace zembra {

namespace {

constexpr int kStartBaud = 57600;
constexpr int kUartFastBaud = 115200;
constexpr std::uint8_t kLinkUart = 0x02;

constexpr char kCannotExecute[] = "명령을 수행할 수 없습니다";
constexpr char kResponseError[] = "응답 오류";
constexpr char kVersionError[] = "버전 정보 오류";
constexpr char kSizeError[] = "파일 크기 오류";
constexpr char kLzoInitFailed[] =
    "lzo_init 함수 호출 실패 압축 모듈 오류 개발자에게 문의 바랍니다.!!!";
constexpr char kVersionQuestion[] =
    "요청한 BIN버전이 현재 Phone버전과 틀립니다. 다른 모델의 단말기인지 확인 바랍니다. 무시하고 "
    "다운로드 하려면 OK를 선택하세요";

std::uint8_t LinkOf(LinkProtocolCode mode) {
    return static_cast<std::uint8_t>(mode >> 8);
}

// Size of an open (regular) file; -1 when it cannot be told.
std::int64_t OpenFileSize(std::FILE* file) {
    FileVersion version;
    return FileVersionOf(file, version) ? version.size : -1;
}

const char* SlotTitle(int slot) {
    static const char* const titles[ImageSlot::Count] = {
        "코드 다운로드",  "폰트1 다운로드", "폰트2 다운로드", "폰트3 다운로드",
        "폰트4 다운로드", "폰트5 다운로드", "폰트6 다운로드"};
    return titles[slot];
}

}  // namespace

DownloadRun RunOfJob(const DownloadJob& job, const StartSnapshot& snapshot,
                     const ImageVersions* versions) {
    DownloadRun run;
    for (int slot = 0; slot < ImageSlot::Count; ++slot)
        run.paths[static_cast<std::size_t>(slot)] = job[slot].path;
    run.snapshot = snapshot;
    run.versions = versions ? *versions : ImageVersionsOf(job);
    return run;
}

SequenceRules MultiWorkerRules(bool versionCheck) {
    SequenceRules rules;
    rules.versionMismatch = versionCheck ? SequenceRules::VersionMismatch::Refuse
                                         : SequenceRules::VersionMismatch::Continue;
    rules.usbOnly = true;
    rules.resetJumpAfterStop = true;
    rules.multiStopLines = true;
    return rules;
}

DownloadSequence::DownloadSequence(SequenceHost& host, const DownloadRun& run,
                                   const SequenceRules& rules, const RunReport& report)
    : host_(host), report_(report), run_(run), snap_(run.snapshot), rules_(rules) {}

SequenceEnd DownloadSequence::Run() {
    RunOutcome outcome = RequestStart();
    if (outcome == RunOutcome::None) outcome = CheckVersion();
    if (outcome == RunOutcome::None) outcome = SelectMode();
    if (outcome == RunOutcome::None) outcome = EnterDownloadModule();
    if (outcome == RunOutcome::None) {
        outcome = SendImages();
        if (outcome == RunOutcome::Completed || outcome == RunOutcome::ImageSkipped) {
            if (ResetJump() == RunOutcome::ResetRefused) outcome = RunOutcome::ResetRefused;
        }
    }
    return {outcome, step_};
}

// ---- commands ------------------------------------------------------------------------

WaitResult DownloadSequence::SendAndWait(const std::uint8_t* command, std::size_t length,
                                         long long ticks) {
    host_.SendCommand(command, length);
    return report_.Answer(host_, host_.WaitResponse(ticks));
}

WaitResult DownloadSequence::SendAndWait(std::initializer_list<std::uint8_t> command) {
    return SendAndWait(command.begin(), command.size(), snap_.normalResponseWaitMs);
}

bool DownloadSequence::Acked(WaitResult wait) const {
    return wait == WaitResult::Arrived && host_.ResponseCode() == RSP_ACK;
}

RunOutcome DownloadSequence::Failed(WaitResult wait, RunOutcome failure) {
    return wait == WaitResult::Stopped ? RunOutcome::Stopped : failure;
}

RunOutcome DownloadSequence::AckStep(const char* text, std::initializer_list<std::uint8_t> command,
                                     const char* failText, std::uint32_t failColour,
                                     RunOutcome failure) {
    report_.Line(text, COLOUR_BLACK);
    const WaitResult wait = SendAndWait(command);
    if (!Acked(wait)) {
        report_.Line(failText, failColour);
        return Failed(wait, failure);
    }
    Pause();
    return RunOutcome::None;
}

void DownloadSequence::Pause() {
    host_.Pause(snap_.cmdGapMs);
}

void DownloadSequence::SettleMode(LinkProtocolCode mode, bool rawUsbFrames) {
    mode_ = mode;
    rawUsbFrames_ = rawUsbFrames;
    host_.LinkSettled(mode_, rawUsbFrames_);
    report_.events.LinkSettled(report_.slot, mode_);
}

// ---- steps before the images ---------------------------------------------------------

RunOutcome DownloadSequence::RequestStart() {
    step_ = SequenceStep::Start;
    SettleMode(snap_.linkProtocol, false);
    host_.SetBaud(kStartBaud);
    report_.Line("다운로드 시작 요청", COLOUR_BLACK);
    const WaitResult wait = SendAndWait({CMD_DOWNLOAD_START});
    if (!report_.AnswerTaken(wait)) return Failed(wait, RunOutcome::NoStartAnswer);
    const std::uint8_t code = host_.ResponseCode();
    if (code != RSP_ACK) {
        if (snap_.showInvalidFcsNak && code != NAK_INVALID_FCS) report_.ShowNak(code);
        report_.Line("응답오류 다운로드를 중단합니다.", COLOUR_RED);
        return RunOutcome::NoStartAnswer;
    }
    Pause();
    return RunOutcome::None;
}

RunOutcome DownloadSequence::CheckVersion() {
    step_ = SequenceStep::Version;
    const std::string& codePath = run_.paths[ImageSlot::Code];
    if (codePath.empty()) return RunOutcome::None;
    std::FILE* file = OpenRegularFile(codePath);
    if (file == nullptr) {
        if (errno == ENOENT)
            report_.Line("다운로드가 중단 됩니다. 코드파일 없음", COLOUR_BLUE);
        else
            report_.Line(FormatText("다운로드가 중단 됩니다. 코드 파일을 읽을 수 없습니다:%s",
                                    codePath.c_str()),
                         COLOUR_BLUE);
        return RunOutcome::ImageFileProblem;
    }
    std::uint16_t version = 0;
    std::uint32_t boot = 0;
    const bool readable = ReadImageTrailer(file, OpenFileSize(file), version, boot);
    std::fclose(file);
    if (!readable) {
        // Without a trailer there is no version to ask for: nothing is sent.
        report_.Line(kVersionError, COLOUR_RED);
        return RunOutcome::ImageFileProblem;
    }
    report_.events.VersionWord(report_.slot, version);
    report_.Line("버전 확인 요청", COLOUR_BLACK);
    const WaitResult wait = SendAndWait({CMD_VERSION_CHECK, static_cast<std::uint8_t>(version),
                                         static_cast<std::uint8_t>(version >> 8), 0x00, 0x00});
    if (!report_.AnswerTaken(wait)) return Failed(wait, RunOutcome::VersionRefused);
    if (host_.ResponseCode() != RSP_ACK) {
        using Rule = SequenceRules::VersionMismatch;
        const bool ask = rules_.versionMismatch == Rule::AskOperator;
        report_.Line(ask ? "요청한 버전이 틀립니다. " : "요청한 버전이 틀립니다.", COLOUR_BLUE);
        if (ask) {
            if (host_.AskOperator(kVersionQuestion, "확인", mb::kOkCancel) != mb::kIdOk)
                return RunOutcome::VersionRefused;
        } else if (rules_.versionMismatch == Rule::Refuse) {
            report_.Line(
                "다운로드를 중단 합니다. 버전 검사 사용을 중지하려면 버전 검사를 사용 "
                "안함으로 설정 하세요",
                COLOUR_RED);
            return RunOutcome::VersionRefused;
        } else {
            report_.Line("다운로드를 계속 합니다. 버전 검사 안함으로 설정되었음", COLOUR_BLUE);
        }
    }
    Pause();
    return RunOutcome::None;
}

RunOutcome DownloadSequence::SelectMode() {
    step_ = SequenceStep::Mode;
    LinkProtocolCode mode = snap_.linkProtocol;
    if (!rules_.usbOnly) {
        // No protocol button checked: the plain protocol of the link.
        if (mode == USB_NONE) mode = USB_NORMAL;
        if (mode == UART_NONE) mode = UART_NORMAL;
    }
    SettleMode(mode, false);
    if (mode == USB_AUTO || (!rules_.usbOnly && mode == UART_AUTO)) {
        const bool usb = mode == USB_AUTO;
        report_.Line(usb ? "USB 자동 탐지 모드" : "UART 자동 탐지", COLOUR_BLACK);
        if (Acked(SendAndWait({CMD_COMPRESSED, COMPRESSED_REQUEST}))) {
            report_.Line(usb ? "압축 USB 모드" : "압축 UART 모드", COLOUR_BLACK);
            SettleMode(usb ? USB_PPV : UART_PRESS, usb);
        } else {
            report_.Line(usb ? "일반 USB 모드" : "일반 UART 모드", COLOUR_BLACK);
            SettleMode(usb ? USB_NORMAL : UART_NORMAL, false);
        }
    }
    if (mode_ == USB_PPV || (!rules_.usbOnly && mode_ == UART_PRESS)) {
        const bool usb = mode_ == USB_PPV;
        if (!host_.Compressor().Init()) {
            report_.Line(kLzoInitFailed, COLOUR_RED);
            return RunOutcome::CompressionFailed;
        }
        report_.Line(usb ? "압축 USB 모드 요청" : "압축 UART 모드 요청", COLOUR_BLACK);
        const WaitResult wait = SendAndWait({CMD_COMPRESSED, COMPRESSED_REQUEST});
        if (!Acked(wait)) {
            report_.Line(
                usb ? "압축 USB 모드를 사용할 수 없습니다" : "압축 UART 모드를 사용할 수 없습니다",
                COLOUR_BLUE);
            return Failed(wait, RunOutcome::CompressionFailed);
        }
        if (usb) SettleMode(mode_, true);
    } else if (rules_.usbOnly && mode_ != USB_NORMAL) {
        // No USB protocol chosen: nothing could be sent, so the slot must not end as written.
        report_.Line("다운로드 모드가 선택되지 않았습니다", COLOUR_RED);
        return RunOutcome::CompressionFailed;
    }
    Pause();
    return RunOutcome::None;
}

RunOutcome DownloadSequence::EnterDownloadModule() {
    step_ = SequenceStep::Module;
    const bool uart = LinkOf(mode_) == kLinkUart;
    RunOutcome failed = RunOutcome::None;
    if (uart) {
        failed = AckStep("모듈 복사", {CMD_MODULE_COPY}, kCannotExecute, COLOUR_BLUE,
                         RunOutcome::UartSetupFailed);
        if (failed == RunOutcome::None)
            failed = AckStep("통신 속도 115200 Bps 설정", {CMD_BAUD_SWITCH, BAUD_115200},
                             kCannotExecute, COLOUR_BLUE, RunOutcome::UartSetupFailed);
        if (failed != RunOutcome::None) return failed;
    }
    failed = AckStep("다운로드 모듈 점프", {CMD_JUMP}, kResponseError, COLOUR_RED,
                     RunOutcome::JumpFailed);
    if (failed != RunOutcome::None) return failed;
    if (uart) host_.SetBaud(kUartFastBaud);
    failed = AckStep("다운로드 시작", {CMD_DOWNLOAD_START}, kResponseError, COLOUR_RED,
                     RunOutcome::JumpFailed);
    if (failed != RunOutcome::None) return failed;
    host_.ImagesBegin();
    report_.events.ImageMark(report_.slot, SequenceMark::ImagesBegin, ImageSlot::Code);
    return RunOutcome::None;
}

RunOutcome DownloadSequence::ResetJump() {
    step_ = SequenceStep::Reset;
    report_.Line("리셋 코드 점프 요청", COLOUR_BLACK);
    const WaitResult wait = SendAndWait({CMD_JUMP});
    // No answer is no failure; a negative one is the phone's word that its flash is not as
    // the job left it (a range not fully written).
    const bool refused = wait == WaitResult::Arrived && host_.ResponseCode() != RSP_ACK;
    report_.Line("다운로드 소요 시간:" + ElapsedText(NowMs(), host_.DurationOriginMs()),
                 COLOUR_BLACK);
    // The reason is the last line before the end.
    if (refused)
        report_.Line(
            FormatText("리셋 코드 점프가 거부되었습니다 (응답 0x%02X). 다운로드가 완료되지 "
                       "않았습니다",
                       host_.ResponseCode()),
            COLOUR_RED);
    return refused ? RunOutcome::ResetRefused : RunOutcome::None;
}

// ---- the images ----------------------------------------------------------------------

RunOutcome DownloadSequence::SendImages() {
    bool skipped = false;
    for (int slot = 0; slot < ImageSlot::Count; ++slot) {
        if (host_.StopRequested()) {
            if (rules_.resetJumpAfterStop) break;
            return RunOutcome::Stopped;
        }
        const std::string& path = run_.paths[static_cast<std::size_t>(slot)];
        if (path.empty()) continue;
        std::FILE* file = OpenRegularFile(path);
        if (file == nullptr) {
            // The slot is passed over, but the operator must learn that a selected image was
            // not written, and the run does not count as complete.
            report_.Line(
                FormatText("%s 파일을 열 수 없어 건너뜁니다: %s", SlotCaption(slot), path.c_str()),
                COLOUR_RED);
            skipped = true;
            continue;
        }
        // The blocks are read in order: one system call per compressed block's worth instead
        // of one per 4 KiB (a packet, in the normal modes). The buffer outlives the stream.
        const std::unique_ptr<char[]> buffer(new char[kLzoBlockSize]);
        std::setvbuf(file, buffer.get(), _IOFBF, kLzoBlockSize);
        RunOutcome outcome;
        if (!StillTheCheckedFile(run_.versions, slot, file)) {
            // Another file, or this one rewritten, since the Start checked it: it was neither
            // checked nor hashed for the record.
            step_ = SequenceStep::ImageCheck;
            report_.Line(FormatText("%s 파일이 검사 후에 바뀌었습니다. 다운로드를 중단합니다: %s",
                                    SlotCaption(slot), path.c_str()),
                         COLOUR_RED);
            outcome = RunOutcome::FileReadError;
        } else {
            outcome = SendImage(slot, file);
        }
        if (outcome == RunOutcome::Completed && !StillTheCheckedFile(run_.versions, slot, file)) {
            // Rewritten while it was sent: the phone holds bytes of two versions.
            report_.Line(
                FormatText("%s 파일이 전송 중에 바뀌었습니다: %s", SlotCaption(slot), path.c_str()),
                COLOUR_RED);
            outcome = RunOutcome::FileReadError;
        }
        std::fclose(file);
        if (outcome != RunOutcome::Completed) return outcome;
    }
    return skipped ? RunOutcome::ImageSkipped : RunOutcome::Completed;
}

RunOutcome DownloadSequence::CheckImage(int slot, std::FILE* file, std::int64_t& size,
                                        std::uint32_t& boot) {
    step_ = SequenceStep::ImageCheck;
    size = OpenFileSize(file);
    std::uint16_t version = 0;
    const bool hasTrailer = size >= 0 && ReadImageTrailer(file, size, version, boot);
    if (slot == ImageSlot::Code) {
        if (!hasTrailer || version == 0 || version == 0xFFFF) {
            report_.Line(kVersionError, COLOUR_RED);
            return RunOutcome::ImageFileProblem;
        }
        // A boot location at or past the end of the file leaves nothing to send from it.
        if (boot == 0 || boot == 0xFFFFFFFFu ||
            (!snap_.change && static_cast<std::int64_t>(boot) >= size)) {
            report_.Line("부트 정보 오류", COLOUR_RED);
            return RunOutcome::ImageFileProblem;
        }
    }
    if (size < 0) {
        report_.Line(kSizeError, COLOUR_RED);
        return RunOutcome::ImageFileProblem;
    }
    if (size % 0x10000 != 0) {
        if (snap_.checkBinSize64K) {
            report_.Line(kSizeError, COLOUR_RED);
            return RunOutcome::ImageFileProblem;
        }
        report_.Line("파일 크기 64K의 배수가 아님 옵션에 의해 다운로드 진행됨", COLOUR_BLUE);
    }
    return RunOutcome::None;
}

RunOutcome DownloadSequence::EraseRange(std::uint32_t address, std::uint32_t length,
                                        std::int64_t size) {
    step_ = SequenceStep::Erase;
    report_.Line(FormatText("메모리 시작 주소:0x%X, 메모리 끝 주소:0x%X, 파일크기:0x%X", address,
                            address + length, static_cast<unsigned>(size)),
                 COLOUR_BLACK);
    report_.Line("삭제 요청 잠시만 기다려 주세요", COLOUR_BLACK);
    std::uint8_t erase[9] = {CMD_ERASE};
    PutLe32(erase + 1, address);
    PutLe32(erase + 5, length);
    const WaitResult wait =
        SendAndWait(erase, sizeof erase, static_cast<long long>(snap_.eraseWaitSec) * 1000);
    if (!report_.AnswerTaken(wait)) return Failed(wait, RunOutcome::EraseFailed);
    if (host_.ResponseCode() != RSP_ACK) {
        report_.Line("삭제 요청이 취소되었습니다. 파일 크기 또는 시작 주소에 문제가 있습니다.",
                     COLOUR_RED);
        return RunOutcome::EraseFailed;
    }
    Pause();
    return RunOutcome::None;
}

RunOutcome DownloadSequence::WriteImage(std::FILE* file, std::int64_t startOffset,
                                        std::int64_t size, std::uint32_t address) {
    step_ = SequenceStep::Transfer;
    report_.Line("프로그램 시작", COLOUR_BLACK);
    BlockTransfer transfer(host_, snap_, report_, rules_.multiStopLines);
    const std::int64_t step = BlockTransfer::BlockStep(mode_);
    for (std::int64_t offset = startOffset; offset < size; offset += step) {
        const BlockResult result =
            transfer.SendBlock(mode_, file, startOffset, size, address, offset);
        address += static_cast<std::uint32_t>(step);
        if (result == BlockResult::Done) continue;
        const unsigned at = static_cast<unsigned>(offset);
        if (result == BlockResult::Stopped) {
            const char* format = "파일 위치 0x%X에서 다운로드가 중단 됩니다";
            if (rules_.multiStopLines)
                format = mode_ == USB_PPV
                             ? "파일 위치 0x%X에서 다운로드가 중단 됩니다. 케이블을 제거하세요"
                             : "파일 위치 0x%X에서 다운로드가 중단 됩니다. 케이블을 제거 하세요";
            report_.Line(FormatText(format, at), COLOUR_RED);
            return RunOutcome::Stopped;
        }
        if (result == BlockResult::FileReadError) {
            report_.Line(FormatText("파일 읽기 오류: 위치 0x%X (파일이 바뀌었습니다)", at),
                         COLOUR_RED);
            return RunOutcome::FileReadError;
        }
        // The last line before the end says why the transfer stopped.
        if (result == BlockResult::TooManyNaks)
            report_.Line(FormatText("부정 응답(0x%02X)이 너무 많아 파일 위치 0x%X에서 다운로드가 "
                                    "중단 됩니다",
                                    host_.ResponseCode(), at),
                         COLOUR_RED);
        else if (result == BlockResult::EchoFailed)
            report_.Line(FormatText("CRC 확인 응답이 계속 틀려 파일 위치 0x%X에서 다운로드가 중단 "
                                    "됩니다",
                                    at),
                         COLOUR_RED);
        return RunOutcome::TransferFailed;
    }
    return RunOutcome::Completed;
}

RunOutcome DownloadSequence::SendImage(int slot, std::FILE* file) {
    report_.Line(SlotTitle(slot), COLOUR_BLUE);
    std::int64_t size = 0;
    std::uint32_t boot = 0;
    RunOutcome outcome = CheckImage(slot, file, size, boot);
    if (outcome != RunOutcome::None) return outcome;

    const TransferRange range = ImageTransferRange(
        slot, size, boot, snap_.address[static_cast<std::size_t>(slot)], snap_.change);
    report_.events.ImageMark(report_.slot, SequenceMark::ImageStarted, slot);
    outcome = EraseRange(range.address, range.length, size);
    report_.events.ImageMark(report_.slot, SequenceMark::EraseEnded, slot);
    if (outcome != RunOutcome::None) return outcome;
    outcome = WriteImage(file, range.startOffset, size, range.address);
    if (outcome != RunOutcome::Completed) return outcome;
    Pause();
    report_.events.ImageMark(report_.slot, SequenceMark::ImageDone, slot);
    return RunOutcome::Completed;
}

std::string ElapsedText(double nowMs, double startMs) {
    const long long elapsed = static_cast<long long>(nowMs - startMs);
    const long long seconds = elapsed / 1000;
    return FormatText("%02lld분 %02lld초", seconds / 60, seconds % 60);
}

const char* RunOutcomeName(RunOutcome outcome) {
    static const char* const names[] = {"None",           "Completed",         "NoStartAnswer",
                                        "VersionRefused", "CompressionFailed", "UartSetupFailed",
                                        "JumpFailed",     "ImageFileProblem",  "EraseFailed",
                                        "TransferFailed", "FileReadError",     "Stopped",
                                        "ImageSkipped",   "ResetRefused"};
    const auto index = static_cast<std::size_t>(outcome);
    return index < sizeof names / sizeof names[0] ? names[index] : "?";
}

}  // namespace zembra

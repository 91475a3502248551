#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "job/DownloadSettings.h"
#include "protocol/DownloadSequence.h"
#include "protocol/ProtocolCodes.h"
#include "protocol/SequenceHost.h"

namespace zembra {

// The slot of the multi download's own lines (its ports opened, its start and stop): they
// belong to no phone's run and are shown in the multi pane without a port name.
inline constexpr int MULTI_DOWNLOAD_LINES = 9;

// How a phone's run ended, as its engine decided it: the sequence's outcome and, for a
// multi slot, its endCode (SlotEnd.h; -1 for the single engine, whose outcome says it all).
struct RunEnd {
    RunOutcome outcome = RunOutcome::None;
    int endCode = -1;
    std::int64_t durationMs = 0;  // from the run's start to its end
    std::uint64_t bytesSent = 0;  // written to the phone's port during the run
};

// What one phone's run does, told as it happens: the one road by which a run's lines, progress,
// image marks and end reach the window, the console and the records. slot: 0 for the single
// engine, 1-8 for the multi slots. Every call comes on the thread that runs that phone's sequence,
// in the order of the run; an observer that shares what it keeps with other threads locks it
// itself. Each call is made once per fact: a count is the number of calls.
class RunEvents {
  public:
    virtual ~RunEvents() = default;

    // A run begins on port with the job's paths, Start values and checked versions (the first
    // call of a run; its port is still to be opened). The multi download's own lines come as
    // MULTI_DOWNLOAD_LINES, which has no run.
    virtual void RunStarted(int /*slot*/, const std::string& /*port*/, const DownloadRun& /*run*/) {
    }
    // One log line of the run in its colour (COLOUR_BLACK, COLOUR_RED, COLOUR_BLUE), without
    // any port-name prefix.
    virtual void Line(int /*slot*/, const std::string& /*text*/, std::uint32_t /*colour*/) {}
    // The transfer of an image: offset is the file offset of the block in transfer, total the
    // image file's size.
    virtual void Progress(int /*slot*/, std::int64_t /*offset*/, std::int64_t /*total*/,
                          int /*percent*/) {}
    // An answer with a negative code (NAK_INVALID_FCS ... NAK_FAILED) was taken.
    virtual void Nak(int /*slot*/, std::uint8_t /*code*/) {}
    // The packet just refused goes out again: after a negative answer (its code), or after
    // the phone echoed a wrong checksum (code 0).
    virtual void Resent(int /*slot*/, std::uint8_t /*code*/) {}
    // The link-and-protocol code now in force (the one configured at first, the one an
    // auto mode chose once it chose).
    virtual void LinkSettled(int /*slot*/, LinkProtocolCode /*mode*/) {}
    // The code image's version word, read from its trailer before the version check.
    virtual void VersionWord(int /*slot*/, std::uint16_t /*word*/) {}
    // A point of the image loop (SequenceMark) for the image (ImageSlot) it concerns; ImageDone
    // once every byte of the image was written and acknowledged.
    virtual void ImageMark(int /*slot*/, SequenceMark /*mark*/, int /*image*/) {}
    // The run is over (the last call of a run).
    virtual void RunFinished(int /*slot*/, const RunEnd& /*end*/) {}
};

// An observer that keeps nothing, for runs that nobody watches.
RunEvents& NoRunEvents();

// Hands every event to each observer in turn, in the order given (the records before the
// display, so that the record of a run is complete when the display sees its end).
class RunEventsFan : public RunEvents {
  public:
    RunEventsFan(std::initializer_list<RunEvents*> observers) : observers_(observers) {}
    void RunStarted(int slot, const std::string& port, const DownloadRun& run) override {
        for (RunEvents* o : observers_) o->RunStarted(slot, port, run);
    }
    void Line(int slot, const std::string& text, std::uint32_t colour) override {
        for (RunEvents* o : observers_) o->Line(slot, text, colour);
    }
    void Progress(int slot, std::int64_t offset, std::int64_t total, int percent) override {
        for (RunEvents* o : observers_) o->Progress(slot, offset, total, percent);
    }
    void Nak(int slot, std::uint8_t code) override {
        for (RunEvents* o : observers_) o->Nak(slot, code);
    }
    void Resent(int slot, std::uint8_t code) override {
        for (RunEvents* o : observers_) o->Resent(slot, code);
    }
    void LinkSettled(int slot, LinkProtocolCode mode) override {
        for (RunEvents* o : observers_) o->LinkSettled(slot, mode);
    }
    void VersionWord(int slot, std::uint16_t word) override {
        for (RunEvents* o : observers_) o->VersionWord(slot, word);
    }
    void ImageMark(int slot, SequenceMark mark, int image) override {
        for (RunEvents* o : observers_) o->ImageMark(slot, mark, image);
    }
    void RunFinished(int slot, const RunEnd& end) override {
        for (RunEvents* o : observers_) o->RunFinished(slot, end);
    }

  private:
    std::vector<RunEvents*> observers_;
};

// True for the negative answer codes NAK_INVALID_FCS ... NAK_FAILED.
constexpr bool IsNakCode(std::uint8_t code) {
    return code >= NAK_INVALID_FCS && code <= NAK_FAILED;
}

// The observer of one phone's run and its slot, as the parts of the sequence report to it.
struct RunReport {
    RunEvents& events;
    int slot = 0;

    void Line(const std::string& text, std::uint32_t colour) const {
        events.Line(slot, text, colour);
    }
    // The text of a negative answer ("NAK FAILED" ...) in blue; other codes show nothing.
    void ShowNak(std::uint8_t code) const {
        if (const char* text = NakText(code)) Line(text, COLOUR_BLUE);
    }
    // The transfer's progress.
    void Progress(std::uint8_t percent, std::int64_t offset, std::int64_t total) const {
        events.Progress(slot, offset, total, percent);
    }
    // The line of a wait that took no answer: "응답이없습니다" (red), or after a stop
    // "다운로드가 중단 됩니다" (blue). True when an answer was taken.
    bool AnswerTaken(WaitResult wait) const {
        if (wait == WaitResult::NoResponse) Line("응답이없습니다", COLOUR_RED);
        if (wait == WaitResult::Stopped) Line("다운로드가 중단 됩니다", COLOUR_BLUE);
        return wait == WaitResult::Arrived;
    }
    // A wait's result; a negative answer it took is reported.
    WaitResult Answer(const SequenceHost& host, WaitResult wait) const {
        if (wait == WaitResult::Arrived && IsNakCode(host.ResponseCode()))
            events.Nak(slot, host.ResponseCode());
        return wait;
    }
};

}  // namespace zembra

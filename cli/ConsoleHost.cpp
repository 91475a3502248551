#include "cli/ConsoleHost.h"

#include "job/ImageSlot.h"
#include "job/JobCheck.h"
#include "platform/Console.h"
#include "platform/Helpers.h"
#include "protocol/AskOperator.h"
#include "protocol/RunDisplay.h"

namespace zembra {

namespace {

constexpr int kBarWidth = 30;

const char* AnsiColour(std::uint32_t colour) {
    if (colour == COLOUR_RED) return "\033[31m";
    if (colour == COLOUR_BLUE) return "\033[34m";
    return "";
}

}  // namespace

void PrintLine(std::FILE* out, const std::string& text, std::uint32_t colour, bool ansi) {
    const char* code = AnsiColour(colour);
    if (ansi && *code) {
        PrintText(out, "%s%s\033[0m\n", code, text.c_str());
    } else {
        PrintText(out, "%s\n", text.c_str());
    }
}

bool ColourOn(const CliOptions& options, bool terminal) {
    return options.colour == ColourMode::Always || (options.colour == ColourMode::Auto && terminal);
}

ConsoleHost::ConsoleHost(const CliOptions& options, Streams streams)
    : options_(options), streams_(streams) {
    colour_ = ColourOn(options, IsTerminal(streams.log));
    progressTty_ = !options.quiet && IsTerminal(streams.progress);
    inputTty_ = IsTerminal(streams.input);
    liveStatus_ = !options.quiet && IsTerminal(streams.log);
    markers_.fill(NOT_SENT);
}

void ConsoleHost::WriteLine(std::FILE* stream, const std::string& text, std::uint32_t colour) {
    ClearStatus();
    ClearProgressLine();
    PrintLine(stream, text, colour, colour_);
    DrawStatus();
    std::fflush(stream);
    DrawProgressLine();
}

void ConsoleHost::SetStatus(std::vector<std::string> lines) {
    if (!liveStatus_) return;
    ClearStatus();
    status_ = std::move(lines);
    DrawStatus();
    std::fflush(streams_.log);
}

void ConsoleHost::DropStatus() {
    ClearStatus();
    status_.clear();
}

void ConsoleHost::ClearStatus() {
    if (statusDrawn_ == 0) return;
    PrintText(streams_.log, "\033[%dA\r\033[J", statusDrawn_);
    statusDrawn_ = 0;
}

void ConsoleHost::DrawStatus() {
    if (!liveStatus_) return;
    for (const auto& line : status_) PrintText(streams_.log, "%s\n", line.c_str());
    statusDrawn_ = static_cast<int>(status_.size());
}

void ConsoleHost::AppendLine(LogPane, const std::string& text, std::uint32_t colour) {
    WriteLine(streams_.log, text, colour);
}

void ConsoleHost::Note(const std::string& text) {
    WriteLine(streams_.log, "zembra-cli: " + text, COLOUR_BLACK);
}

void ConsoleHost::Error(const std::string& text) {
    WriteLine(streams_.log, "zembra-cli: " + text, COLOUR_RED);
}

void ConsoleHost::SetGauge(int percent) {
    gauge_ = percent;
    DrawProgressLine();
}

void ConsoleHost::SetTitle(const std::string& title) {
    if (title == title_) return;
    title_ = title;
    WriteTitle(title);
}

void ConsoleHost::WriteTitle(const std::string& title) {
    if (!progressTty_) return;
    // The terminal's title plays the taskbar entry.
    PrintText(streams_.progress, "\033]0;%s\007", title.c_str());
    std::fflush(streams_.progress);
}

void ConsoleHost::SetAddressText(const std::string& text) {
    address_ = text;
    if (!progressTty_ && !options_.quiet && currentSlot_ >= 0 && !text.empty()) {
        // Without a terminal: one progress line per 10 % (the address comes last in a
        // progress update).
        const int step = gauge_ / 10;
        if (step != lastPlainStep_) {
            lastPlainStep_ = step;
            PrintPlainProgress(currentSlot_);
        }
    }
    DrawProgressLine();
}

void ConsoleHost::SetMarker(int slot, const std::string& marker) {
    if (slot < 0 || slot >= static_cast<int>(markers_.size())) return;
    markers_[static_cast<std::size_t>(slot)] = marker;
    if (marker == SENDING) {
        currentSlot_ = slot;
        lastPlainStep_ = -1;
    } else if (slot == currentSlot_) {
        if (marker == SENT) {
            if (!progressTty_ && !options_.quiet) PrintPlainProgress(slot);
            DrawProgressLine();
            if (progressTty_ && progressShown_) {
                WriteText(streams_.progress, "\n");  // keep the finished image's bar
                progressShown_ = false;
            }
        }
        currentSlot_ = -1;
    }
}

void ConsoleHost::PrintPlainProgress(int slot) {
    PrintText(streams_.progress, "%s %3d%% %s %s\n", SlotCaption(slot), gauge_, address_.c_str(),
              elapsed_.c_str());
    std::fflush(streams_.progress);
}

void ConsoleHost::RunEnded(int slot, const RunEnd& end) {
    if (slot != 0) {
        // A slot whose port did not open never ran (the Start says so).
        if (slotEnded_ && end.endCode >= 0) slotEnded_(slot - 1);
        return;
    }
    ClearProgressLine();
    WriteTitle(TITLE_IDLE);
    controlsGivenBack_ = true;
}

bool ConsoleHost::AcceptJob(const DownloadJob&, const JobCheckResult& check, StartKind kind) {
    for (int code : check.codes) {
        const std::string text = JobErrorText(code);
        if (!text.empty())
            WriteLine(streams_.log, FormatText("[%s] %s", JOB_ERROR_CAPTION, text.c_str()),
                      COLOUR_RED);
    }
    if (!IsOverridableJobError(check.code())) return false;
    if (kind == StartKind::Multi) return AskMultiOverride();
    return AskOperator(SINGLE_OVERRIDE_QUESTION, QUESTION_CAPTION, mb::kYesNo) == mb::kIdYes;
}

bool ConsoleHost::AskMultiOverride() {
    if (options_.answer != AnswerMode::Ask) {
        const bool yes = options_.answer == AnswerMode::Yes;
        WriteLine(streams_.log,
                  FormatText("[%s] %s -> %s", QUESTION_CAPTION, MULTI_OVERRIDE_QUESTION,
                             yes ? "예" : "아니오"),
                  COLOUR_BLUE);
        return yes;
    }
    PrintText(streams_.log, "[%s] %s (y/n): ", QUESTION_CAPTION, MULTI_OVERRIDE_QUESTION);
    std::fflush(streams_.log);
    std::string line;
    if (!ReadTextLine(streams_.input, line)) return false;
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    return line == "y" || line == "Y" || line == "yes" || line == "예";
}

void ConsoleHost::SetElapsed(const std::string& text) {
    if (text == elapsed_) return;
    elapsed_ = text;
    DrawProgressLine();
}

void ConsoleHost::ClearProgressLine() {
    if (!progressTty_ || !progressShown_) return;
    WriteText(streams_.progress, "\r\033[K");
    std::fflush(streams_.progress);
    progressShown_ = false;
}

void ConsoleHost::DrawProgressLine() {
    if (!progressTty_ || currentSlot_ < 0) return;
    // A fast link updates the progress a few thousand times a second: redraw when the
    // percentage changes or the line is older than a tenth of a second, not on every packet.
    const double now = NowMs();
    if (progressShown_ && gauge_ == drawnGauge_ && now - drawnMs_ < 100) return;
    drawnGauge_ = gauge_;
    drawnMs_ = now;
    const int filled = gauge_ * kBarWidth / 100;
    std::string bar(static_cast<std::size_t>(filled), '#');
    bar.append(static_cast<std::size_t>(kBarWidth - filled), '.');
    PrintText(streams_.progress, "\r\033[K%s [%s] %3d%% %s %s", SlotCaption(currentSlot_),
              bar.c_str(), gauge_, address_.empty() ? "          " : address_.c_str(),
              elapsed_.c_str());
    std::fflush(streams_.progress);
    progressShown_ = true;
}

int ConsoleHost::AskOperator(const std::string& text, const std::string& caption, int style) {
    const bool yesNo = (style & mb::kButtonsMask) == mb::kYesNo;
    const int positive = yesNo ? mb::kIdYes : mb::kIdOk;
    const int negative = yesNo ? mb::kIdNo : mb::kIdCancel;
    const char* positiveText = yesNo ? "예" : "OK";
    const char* negativeText = yesNo ? "아니오" : "Cancel";

    WriteLine(streams_.log, FormatText("[%s] %s", caption.c_str(), text.c_str()), COLOUR_BLUE);
    if (options_.answer != AnswerMode::Ask) {
        const bool yes = options_.answer == AnswerMode::Yes;
        Note(FormatText("answered %s (%s)", yes ? positiveText : negativeText,
                        yes ? "--yes" : "--no"));
        return yes ? positive : negative;
    }
    if (!inputTty_) {
        Note(FormatText("no terminal to ask: answered %s (use --yes or --no)", negativeText));
        return negative;
    }
    ClearProgressLine();
    for (;;) {
        PrintText(streams_.progress, "%s / %s? ", positiveText, negativeText);
        std::fflush(streams_.progress);
        std::string line;
        if (!ReadTextLine(streams_.input, line)) {
            WriteText(streams_.progress, "\n");
            return negative;
        }
        std::string answer = AsciiLower(line);
        while (!answer.empty() &&
               (answer.back() == '\n' || answer.back() == '\r' || answer.back() == ' '))
            answer.pop_back();
        // Both button texts of either style are among the answers taken.
        if (answer == "ok" || answer == "y" || answer == "yes" || answer == "예") return positive;
        if (answer == "cancel" || answer == "n" || answer == "no" || answer == "아니오")
            return negative;
    }
}

}  // namespace zembra

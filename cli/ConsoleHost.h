#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "cli/CliOptions.h"
#include "multi/MultiHost.h"
#include "protocol/RunView.h"

namespace zembra {

// One line of the console: red and blue lines in their ANSI colours when ansi is set, every
// other line (and every line without ansi) plain.
void PrintLine(std::FILE* out, const std::string& text, std::uint32_t colour, bool ansi);
// Whether lines get their ANSI colours (--colour, else whether the output is a terminal).
bool ColourOn(const CliOptions& options, bool terminal);

// The console as the engines' window, for one phone and for eight alike: log lines in their
// colours (ANSI on a terminal, plain text otherwise), a progress line (gauge, percentage,
// address, elapsed time, image) redrawn in place on a terminal, the multi slots' status block
// under the log on a terminal, and the operator's questions answered from the terminal or
// from --yes/--no. RunDisplay drives its display from the runs' events. Runs on the command
// line's main thread only.
class ConsoleHost : public RunView, public OperatorQuestions {
  public:
    struct Streams {
        std::FILE* log = stdout;       // log lines
        std::FILE* progress = stderr;  // progress line, questions
        std::FILE* input = stdin;      // answers
    };

    ConsoleHost(const CliOptions& options, Streams streams);
    ConsoleHost(const CliOptions& options) : ConsoleHost(options, Streams{}) {}

    // RunView (one console shows both log panes).
    void AppendLine(LogPane pane, const std::string& text, std::uint32_t colour) override;
    void SetGauge(int percent) override;
    void SetTitle(const std::string& title) override;
    void SetAddressText(const std::string& text) override;
    void SetMarker(int slot, const std::string& marker) override;
    // The single run's end gives the controls back; a multi slot's end (of a run that began)
    // goes to the slot-end handler.
    void RunEnded(int slot, const RunEnd& end) override;

    // OperatorQuestions: the single Start's questions as message boxes (AskOperator); the
    // multi Start's job errors as red lines and its override question as a line (--yes/--no)
    // or a y/n prompt. The slot port names of a multi Start stay those given.
    //
    // A message box: returns mb::kIdOk/kIdCancel (mb::kOkCancel) or mb::kIdYes/kIdNo
    // (mb::kYesNo) from the answer mode, or asks on the terminal.
    int AskOperator(const std::string& text, const std::string& caption, int style) override;
    bool AcceptJob(const DownloadJob& job, const JobCheckResult& check, StartKind kind) override;
    bool ConfirmStart(const DownloadJob&, std::array<std::string, MULTI_SLOT_COUNT>*) override {
        return true;
    }

    // Called with the multi slot (0-7) whose run has ended (none: nobody listens).
    void SetSlotEnded(std::function<void(int slot)> ended) { slotEnded_ = std::move(ended); }
    // The multi slots' status block, one line per slot (only on a terminal), and its end.
    void SetStatus(std::vector<std::string> lines);
    void DropStatus();
    // The status block is drawn (a terminal, and not --quiet).
    bool liveStatus() const { return liveStatus_; }

    // The program's own notes and errors (English), on the log stream, in red for errors.
    void Note(const std::string& text);
    void Error(const std::string& text);

    // The status tick: refreshes the elapsed-time field ("%02d분 %02d초", empty when idle).
    void SetElapsed(const std::string& text);

    // Where the log lines go.
    std::FILE* logStream() const { return streams_.log; }

    // True once the engine has given the controls back (the run is over).
    bool controlsGivenBack() const { return controlsGivenBack_; }
    void ResetForRun() {
        controlsGivenBack_ = false;
        markers_.fill(NOT_SENT);
    }

  private:
    void ClearProgressLine();
    void DrawProgressLine();
    void WriteLine(std::FILE* stream, const std::string& text, std::uint32_t colour);
    void ClearStatus();
    void DrawStatus();
    // The multi Start's override question.
    bool AskMultiOverride();
    // The terminal's title (only on a terminal).
    void WriteTitle(const std::string& title);
    // A progress line of its own, for a log that is not a terminal.
    void PrintPlainProgress(int slot);

    const CliOptions& options_;
    Streams streams_;
    bool colour_ = false;
    bool progressTty_ = false;
    bool inputTty_ = false;
    bool progressShown_ = false;

    int gauge_ = 0;
    int drawnGauge_ = -1;  // the line on the terminal: its percentage and time
    double drawnMs_ = 0;
    int lastPlainStep_ = -1;
    std::string address_;
    std::string elapsed_;
    std::string title_;
    int currentSlot_ = -1;
    std::array<std::string, 7> markers_{};
    bool controlsGivenBack_ = false;
    bool liveStatus_ = false;
    std::vector<std::string> status_;
    int statusDrawn_ = 0;  // lines of the status block on the terminal
    std::function<void(int)> slotEnded_;
};

}  // namespace zembra

#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

#include "cli/CliOptions.h"
#include "protocol/DownloadHost.h"

namespace zembra {

// One line of the console: red and blue lines in their ANSI colours when ansi is set, every
// other line (and every line without ansi) plain.
void PrintLine(std::FILE* out, const std::string& text, std::uint32_t colour, bool ansi);
// Whether lines get their ANSI colours (--colour, else whether the output is a terminal).
bool ColourOn(const CliOptions& options, bool terminal);

// The console as the engines' window: log lines in their colours (ANSI on a terminal, plain
// text otherwise), a progress line (gauge, percentage, address, elapsed time, image) redrawn
// in place on a terminal, and the operator's questions answered from the terminal or from
// --yes/--no. Runs on the command line's main thread only.
class ConsoleHost : public DownloadHost {
  public:
    struct Streams {
        std::FILE* log = stdout;       // log lines
        std::FILE* progress = stderr;  // progress line, questions
        std::FILE* input = stdin;      // answers
    };

    ConsoleHost(const CliOptions& options, Streams streams);
    ConsoleHost(const CliOptions& options) : ConsoleHost(options, Streams{}) {}

    // DownloadHost.
    void LogSingle(const std::string& text, std::uint32_t colour) override;
    void LogMulti(const std::string& text, std::uint32_t colour) override;
    void SetGauge(int percent) override;
    void SetTitle(const std::string& title) override;
    void SetAddressText(const std::string& text) override;
    void SetMarker(int slot, const std::string& marker) override;
    void GiveControlsBack() override;

    // A message box: returns mb::kIdOk/kIdCancel (mb::kOkCancel) or mb::kIdYes/kIdNo (mb::kYesNo)
    // from the answer mode, or asks on the terminal.
    int ShowMessage(const std::string& text, const std::string& caption, int style);

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
};

}  // namespace zembra

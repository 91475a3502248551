#pragma once

#include <cstdint>
#include <string>

namespace zembra {

// What the download engines do to "the window", without the window: the operator window
// implements it with its controls, the command line with the console. Every call is made on
// the main thread (from a bridge kind, a receive handler or a start/stop handler) and must
// return promptly; none of them may block on the worker.
class DownloadHost {
  public:
    virtual ~DownloadHost() = default;

    // LogSingle: appends one line in a colour (0 black, 0x0000FF red, 0xFF0000 blue) to the
    // log pane of the visible panel (the multi pane when the multi panel is shown).
    virtual void LogSingle(const std::string& text, std::uint32_t colour) = 0;

    // LogMulti: appends one line in a colour to the multi log pane, whatever panel is shown.
    virtual void LogMulti(const std::string& text, std::uint32_t colour) = 0;

    // CGaugeProgress := percent (0..100).
    virtual void SetGauge(int percent) = 0;

    // The application title (taskbar entry), e.g. "37% Zembra 4", "Erase Zembra 4".
    virtual void SetTitle(const std::string& title) = 0;

    // EditAddress := text ("0x%08X" of the current file offset, or empty).
    virtual void SetAddressText(const std::string& text) = 0;

    // The progress marker of an image row (slot 0 code, 1..6 fonts): NOT_SENT, SENDING, SENT.
    virtual void SetMarker(int slot, const std::string& marker) = 0;

    // The end of a single run after the port was closed: enable PanelFileSelect and
    // BitBtnDOStart, and CheckBoxAuto unless the serial link is chosen.
    virtual void GiveControlsBack() = 0;
};

}  // namespace zembra

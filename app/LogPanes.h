#pragma once

#include <cstdint>
#include <string>

#include "protocol/RunView.h"

class QRect;
class QWidget;

namespace zembra {

class MainFormView;
class RichEditLog;

// The window's two log panes: RichEditOutput on the single panel (PanelOne) and RichEdit21 on
// the multi panel. Each starts with the banner and keeps its newest line in view.
class LogPanes {
  public:
    explicit LogPanes(const MainFormView& form) : form_(form) {}
    // Makes RichEditOutput (single) on PanelOne or RichEdit21 on PanelMulti.
    void MakePane(QWidget* panel, bool single, const QRect& geometry);

    // LogPane::Front: to RichEditOutput while PanelOne is visible, otherwise to RichEdit21.
    // LogPane::Multi: to RichEdit21 whichever panel is visible.
    void AppendLine(LogPane pane, const std::string& text, std::uint32_t colour);

  private:
    // The panes' change events.
    void RichEditOutputChange();
    void RichEdit21Change();

    const MainFormView& form_;  // IsSingleMode: PanelOne in front
    RichEditLog* RichEditOutput = nullptr;
    RichEditLog* RichEdit21 = nullptr;
};

}  // namespace zembra

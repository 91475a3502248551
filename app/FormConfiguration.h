#pragma once

#include <string>

namespace zembra {

class MainFormView;
class TOKBottomDlgPopUp;

// The window's configuration file: the reader behind SpeedButtonCfg, the writer behind
// "현재환경저장" and "파일로환경저장", and the automatic load of the settings-only file when
// the window is first shown.
class FormConfiguration {
  public:
    // programPath: the program file's full path (empty: the running program's own path).
    FormConfiguration(MainFormView& form, const std::string& programPath);

    // The pop-up that a configuration's text and show key fill; it must outlive this object.
    void AttachPopUp(TOKBottomDlgPopUp* popUp) { popUp_ = popUp; }
    // The settings-only file that the window loads at its first showing and that
    // "파일로환경저장" writes: next to the program (AutoConfigPathFor) when the program's
    // folder can be written, as for a program run from its build or install folder; otherwise
    // (a packaged program in /usr/bin) the same file name in $XDG_CONFIG_HOME/zembra/ (default
    // ~/.config/zembra/).
    const std::string& autoConfigPath() const { return autoConfigPath_; }

    // SpeedButtonCfgClick: the reader when the button went down, the release of the
    // configuration when it came up (or the dialog was cancelled).
    void SpeedButtonCfgClick();
    // BitBtnCfgSaveClick; with autoConfig BitBtnCfgSave2Click (settings only, to
    // autoConfigPath, no dialog).
    void SaveConfiguration(bool autoConfig);
    // The automatic load (FormResize): the settings-only file at autoConfigPath, when it can
    // be opened (no file: nothing, no message).
    void LoadAutomatic();

  private:
    // Reads the file at path (autoConfig: settings only); false when it could not be read.
    bool LoadConfiguration(const std::string& path, bool autoConfig);
    void ResetConfigState();  // expected names to "     임의파일", model empty, fields enabled

    MainFormView& form_;
    TOKBottomDlgPopUp* popUp_ = nullptr;
    std::string programPath_;
    std::string autoConfigPath_;
};

}  // namespace zembra

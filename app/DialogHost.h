#pragma once

#include <optional>
#include <string>

#include "protocol/AskOperator.h"

class QDialog;
class QWidget;

namespace zembra {

// What a file dialog of the window is asked to show. `name` is the dialog's component name
// (OpenDialogCode, SaveDialogCfgSave ...), so that a host can tell the dialogs apart.
struct FileDialogRequest {
    std::string name;
    std::string filter;       // "BIN|*.BIN|All|*.*": description|patterns pairs
    std::string defaultName;  // proposed file name (save dialogs)
    std::string defaultExt;   // added to a typed name without extension ("BIN", "TXT")
    bool mustExist = false;   // open dialogs: only existing files
    bool confirmOverwrite = false;
    std::string folder;  // the folder the dialog opens in; empty: the toolkit's choice
};

// The folder of the file last chosen in one of the window's file dialogs, kept across runs
// of the program (in the user's settings); empty when none was chosen yet.
std::string LastDialogFolder();
// Remembers the folder of a chosen file for the next dialog.
void RememberDialogFolder(const std::string& chosenFile);

// Installs Qt's own Korean texts (standard buttons, file dialog) when the translations are
// installed; false when they could not be loaded.
bool InstallToolkitTranslation();

// Every modal interaction of the window goes through this seam: message boxes, file dialogs
// and the modal showing of the window's own dialogs. The program uses QtDialogHost (Qt's
// QMessageBox / QFileDialog / QDialog::exec); tests answer programmatically.
class DialogHost {
  public:
    virtual ~DialogHost() = default;

    // Shows a message box in the given style (mb:: buttons | icon) and returns the answer
    // (mb::kIdOk ...).
    virtual int ShowMessage(const std::string& text, const std::string& caption, int style) = 0;

    // The chosen full path, or nothing when the operator cancelled.
    virtual std::optional<std::string> GetOpenFileName(const FileDialogRequest& request) = 0;
    virtual std::optional<std::string> GetSaveFileName(const FileDialogRequest& request) = 0;

    // Shows one of the program's own dialogs modally and returns when it has been closed.
    virtual void ShowModal(QDialog& dialog) = 0;
};

// The real program's host: Qt's standard dialogs, parented to `parent` when it is set.
class QtDialogHost : public DialogHost {
  public:
    explicit QtDialogHost(QWidget* parent = nullptr) : parent_(parent) {}
    void SetParent(QWidget* parent) { parent_ = parent; }

    int ShowMessage(const std::string& text, const std::string& caption, int style) override;
    std::optional<std::string> GetOpenFileName(const FileDialogRequest& request) override;
    std::optional<std::string> GetSaveFileName(const FileDialogRequest& request) override;
    void ShowModal(QDialog& dialog) override;

    // "BIN|*.BIN|All|*.*" -> "BIN (*.BIN);;All (*.*)" (Qt's filter form).
    static std::string QtFilter(const std::string& filter);

  private:
    QWidget* parent_;
};

}  // namespace zembra

#include "app/FormConfiguration.h"

#include <QDir>
#include <QFileInfo>

#include "app/DialogHost.h"
#include "app/FormModel.h"
#include "app/FormWidgets.h"
#include "app/MainFormView.h"
#include "app/PopUpUnit.h"
#include "job/ConfigFile.h"
#include "platform/Helpers.h"
#include "platform/UserFolders.h"

namespace zembra {

namespace {

// The file of autoConfigPath() for the program at programPath.
std::string SettingsFilePathFor(const std::string& programPath) {
    const std::string nextToProgram = AutoConfigPathFor(programPath);
    const QString folder = QFileInfo(QString::fromStdString(nextToProgram)).absolutePath();
    if (FolderWritable(folder.toStdString())) return nextToProgram;
    return UserConfigFolder() + "/zembra/" + FileNameOnly(nextToProgram);
}

}  // namespace

FormConfiguration::FormConfiguration(MainFormView& form, const std::string& programPath)
    : form_(form),
      programPath_(programPath.empty() ? ProgramPath() : programPath),
      autoConfigPath_(SettingsFilePathFor(programPath_)) {}

void FormConfiguration::LoadAutomatic() {
    autoConfigPath_ = SettingsFilePathFor(programPath_);  // as the folder is now
    if (!CanOpenForReading(autoConfigPath_)) return;
    LoadConfiguration(autoConfigPath_, true);
}

void FormConfiguration::ResetConfigState() {
    DownloadJob job = form_.model().ReadJob();
    ReleaseConfig(job);
    form_.model().ApplyJob(job);
}

bool FormConfiguration::LoadConfiguration(const std::string& path, bool autoConfig) {
    FormModel& model = form_.model();
    DownloadJob job = model.ReadJob();
    DownloadSettings settings = model.ReadSettings();
    const ConfigReadResult result =
        ReadConfigFile(path, autoConfig ? ConfigSource::Auto : ConfigSource::Dialog, job, settings);
    form_.AppendLine(LogPane::Front, result.log.text, result.log.colour);
    if (!result.opened) return false;
    model.ApplyJob(job);
    model.ApplySettings(settings);
    if (result.popUpKeySeen && popUp_) popUp_->SetText(result.popUpText);
    if (result.showPopUp && popUp_) form_.dialogs().ShowModal(*popUp_);
    return true;
}

void FormConfiguration::SpeedButtonCfgClick() {
    if (!form_.model().configLoaded()) {  // released: the configuration no longer holds
        ResetConfigState();
        return;
    }
    FileDialogRequest request;
    request.name = "OpenDialogCfg";
    request.filter = CONFIG_OPEN_FILTER;
    request.mustExist = true;
    request.folder = LastDialogFolder();
    const std::optional<std::string> chosen = form_.dialogs().GetOpenFileName(request);
    if (!chosen) {
        ResetConfigState();
        return;
    }
    RememberDialogFolder(*chosen);
    // A file that vanished or became unreadable after the dialog: nothing is read, the red
    // line says why, and the window stays as if the dialog had been cancelled.
    if (!LoadConfiguration(*chosen, false)) ResetConfigState();
}

void FormConfiguration::SaveConfiguration(bool autoConfig) {
    std::string path;
    if (autoConfig) {
        path = autoConfigPath_;
        // The folder of the user's settings may not exist yet.
        QDir().mkpath(QFileInfo(Q(path)).absolutePath());
    } else {
        FileDialogRequest request;
        request.name = "SaveDialogCfgSave";
        request.filter = CONFIG_SAVE_FILTER;
        request.defaultName = DEFAULT_CONFIG_NAME;
        request.defaultExt = CONFIG_SAVE_DEFAULT_EXT;
        request.confirmOverwrite = true;
        request.folder = LastDialogFolder();
        const std::optional<std::string> chosen = form_.dialogs().GetSaveFileName(request);
        if (!chosen) return;
        RememberDialogFolder(*chosen);
        path = *chosen;
    }
    const ConfigWriteResult result =
        WriteConfigFile(path, form_.model().ReadJob(), form_.model().ReadSettings(),
                        autoConfig ? ConfigFileKind::SettingsOnly : ConfigFileKind::Full);
    if (result.conversionError) {
        form_.ShowException(result.conversionError->message);
        return;
    }
    if (!result.refusal.empty())
        form_.dialogs().ShowMessage(result.refusal, CONFIG_SAVE_ERROR_CAPTION, mb::kOk);
    else if (!result.ok)
        form_.dialogs().ShowMessage(CONFIG_SAVE_ERROR, CONFIG_SAVE_ERROR_CAPTION, mb::kOk);
}

}  // namespace zembra

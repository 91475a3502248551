#include "app/DialogHost.h"

#include <QCoreApplication>
#include <QDialog>
#include <QFileDialog>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QMessageBox>
#include <QSettings>
#include <QStringList>
#include <QTranslator>

namespace zembra {

namespace {

QMessageBox::StandardButtons ButtonsOf(int style) {
    switch (style & mb::kButtonsMask) {
        case mb::kOkCancel:
            return QMessageBox::Ok | QMessageBox::Cancel;
        case 2:  // abort, retry, ignore
            return QMessageBox::Abort | QMessageBox::Retry | QMessageBox::Ignore;
        case 3:  // yes, no, cancel
            return QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
        case mb::kYesNo:
            return QMessageBox::Yes | QMessageBox::No;
        case 5:  // retry, cancel
            return QMessageBox::Retry | QMessageBox::Cancel;
        default:
            return QMessageBox::Ok;
    }
}

QMessageBox::Icon IconOf(int style) {
    switch (style & 0xF0) {
        case mb::kIconStop:
            return QMessageBox::Critical;
        case mb::kIconQuestion:
            return QMessageBox::Question;
        case mb::kIconWarning:
            return QMessageBox::Warning;
        case mb::kIconInformation:
            return QMessageBox::Information;
        default:
            return QMessageBox::NoIcon;
    }
}

int AnswerOf(int button) {
    switch (button) {
        case QMessageBox::Ok:
            return mb::kIdOk;
        case QMessageBox::Cancel:
            return mb::kIdCancel;
        case QMessageBox::Abort:
            return 3;
        case QMessageBox::Retry:
            return 4;
        case QMessageBox::Ignore:
            return 5;
        case QMessageBox::Yes:
            return mb::kIdYes;
        case QMessageBox::No:
            return mb::kIdNo;
        default:
            return mb::kIdCancel;  // closed with the window's close box
    }
}

std::optional<std::string> RunFileDialog(QWidget* parent, const FileDialogRequest& request,
                                         bool save) {
    QFileDialog dialog(parent);
    dialog.setObjectName(QString::fromStdString(request.name));
    dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    dialog.setNameFilter(QString::fromStdString(QtDialogHost::QtFilter(request.filter)));
    if (!request.defaultExt.empty())
        dialog.setDefaultSuffix(QString::fromStdString(request.defaultExt));
    if (!request.defaultName.empty())
        dialog.selectFile(QString::fromStdString(request.defaultName));
    dialog.setOption(QFileDialog::DontConfirmOverwrite, !request.confirmOverwrite);
    if (!request.folder.empty()) dialog.setDirectory(QString::fromStdString(request.folder));
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    const QStringList files = dialog.selectedFiles();
    if (files.isEmpty()) return std::nullopt;
    return files.front().toStdString();
}

}  // namespace

std::string LastDialogFolder() {
    const QSettings settings(QStringLiteral("Zembra"), QStringLiteral("zembra"));
    return settings.value(QStringLiteral("dialogs/lastFolder")).toString().toStdString();
}

void RememberDialogFolder(const std::string& chosenFile) {
    QSettings settings(QStringLiteral("Zembra"), QStringLiteral("zembra"));
    settings.setValue(QStringLiteral("dialogs/lastFolder"),
                      QFileInfo(QString::fromStdString(chosenFile)).absolutePath());
}

bool InstallToolkitTranslation() {
    auto* translator = new QTranslator(QCoreApplication::instance());
    if (!translator->load(QStringLiteral("qtbase_ko"),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete translator;
        return false;
    }
    return QCoreApplication::installTranslator(translator);
}

int QtDialogHost::ShowMessage(const std::string& text, const std::string& caption, int style) {
    QMessageBox box(IconOf(style), QString::fromStdString(caption), QString::fromStdString(text),
                    ButtonsOf(style), parent_);
    return AnswerOf(box.exec());
}

std::optional<std::string> QtDialogHost::GetOpenFileName(const FileDialogRequest& request) {
    return RunFileDialog(parent_, request, false);
}

std::optional<std::string> QtDialogHost::GetSaveFileName(const FileDialogRequest& request) {
    return RunFileDialog(parent_, request, true);
}

void QtDialogHost::ShowModal(QDialog& dialog) {
    dialog.exec();
}

std::string QtDialogHost::QtFilter(const std::string& filter) {
    // Pairs of description and patterns. Patterns in upper case also match the lower-case
    // names that are usual on Linux.
    const QStringList parts = QString::fromStdString(filter).split('|');
    QStringList out;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QStringList patterns = parts[i + 1].split(';', Qt::SkipEmptyParts);
        QStringList all;
        for (const QString& p : patterns) {
            all << p;
            if (p.toLower() != p) all << p.toLower();
        }
        out << QStringLiteral("%1 (%2)").arg(parts[i], all.join(' '));
    }
    return out.join(QStringLiteral(";;")).toStdString();
}

}  // namespace zembra

// zembra: the operator window (its options: PrintUsage). --multi and --advanced click
// "멀티다운로드" and "+" once the window is up (the documentation screenshots); --press-start
// with --exit-when-done makes a demo without a display; --quit-after a smoke run (e.g. with
// QT_QPA_PLATFORM=offscreen). On Linux without any display and no platform chosen the program
// says so and exits with status 3 instead of letting Qt abort.
#include <QApplication>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <vector>

#include "app/AppFont.h"
#include "app/AppWindows.h"
#include "app/DialogHost.h"
#include "app/QtMainThread.h"
#include "app/RichEditLog.h"
#include "job/ImageSlot.h"
#include "multi/MultiDownload.h"
#include "platform/Console.h"
#include "platform/MainThread.h"
#include "platform/Version.h"

namespace {

void PrintUsage() {
    zembra::PrintText(
        stdout,
        "Usage: zembra [options]\n"
        "\n"
        "The Zembra operator window: writes one code image and up to six font images into\n"
        "one phone over USB or UART, or into up to eight phones at once over USB.\n"
        "\n"
        "Options:\n"
        "  --multi           start in multi-download mode\n"
        "  --advanced        open the advanced settings panel\n"
        "  --code FILE       select the code image (as the \"코드\" button's dialog does)\n"
        "  --font1 FILE ...  select font images 1-6 (--font1 ... --font6)\n"
        "  --press-start     press the visible panel's \"시작\" once the window is up\n"
        "  --exit-when-done  after that download: print its log and result, close the window\n"
        "                    (exit status 0 only when every phone got every image)\n"
        "  --quit-after MS   close the window after MS milliseconds\n"
        "  --help            this text\n"
        "  --version         print the version and exit\n"
        "\n"
        "Exit status:\n"
        "   0  the window was closed (with --exit-when-done: every phone got every image)\n"
        "   1  --exit-when-done: not every image was written; or the window failed to start\n"
        "   2  unknown option\n"
        "   3  no display (see QT_QPA_PLATFORM=offscreen)\n"
        "For downloads from a console: zembra-cli --help\n");
}

// Slot of an image option (--code, --font1 ... --font6), or -1.
int ImageOptionSlot(const std::string& arg) {
    if (arg == "--code") return zembra::ImageSlot::Code;
    if (arg.size() == 7 && arg.rfind("--font", 0) == 0 && arg[6] >= '1' && arg[6] <= '6')
        return arg[6] - '0';
    return -1;
}

// The log pane of the visible panel after the banner, then each used multi slot's result.
// Returns true when the download wrote every image into every phone.
bool PrintRunResult(zembra::TMainForm& form, zembra::DownloadController& downloads) {
    const bool single = form.IsSingleMode();
    const auto* pane =
        form.findChild<zembra::RichEditLog*>(single ? "RichEditOutput" : "RichEdit21");
    const auto lines = pane->Lines();
    for (std::size_t i = 4; i < lines.size(); ++i)
        zembra::PrintText(stdout, "  %s\n", lines[i].text.c_str());
    if (single) {
        const zembra::RunOutcome outcome = downloads.single().shared().lastOutcome.load();
        zembra::PrintText(stdout, "Result: %s\n", zembra::RunOutcomeName(outcome));
        return outcome == zembra::RunOutcome::Completed;
    }
    bool allWritten = true, any = false;
    for (int slot = 0; slot < zembra::MULTI_SLOT_COUNT; ++slot) {
        const zembra::MultiSingleBoxDLU* worker = downloads.multi().worker(slot);
        const std::string& port = downloads.multi().slotPortNames()[static_cast<std::size_t>(slot)];
        if (!worker || port.empty()) continue;
        any = true;
        const auto n = QString::number(slot + 1);
        const int gauge = form.findChild<QProgressBar*>("CGaugeP" + n)->value();
        const std::string label = form.findChild<QLabel*>("LabelL" + n)->text().toStdString();
        zembra::PrintText(stdout, "Slot %d %s: %d%% %s (endCode %d)\n", slot + 1, port.c_str(),
                          gauge, label.c_str(), worker->endCode());
        allWritten = allWritten && worker->endCode() == zembra::END_FINISHED;
    }
    return any && allWritten;
}

// The window's own options; single-dash options (-platform, -style ...) are Qt's.
struct WindowOptions {
    bool multi = false, advanced = false, pressStart = false, exitWhenDone = false;
    int quitAfterMs = -1;
    std::vector<std::pair<int, std::string>> images;
    bool platformGiven = !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM");
};

// Parses the command line; -1 to go on, else the exit status (help, version, a bad option).
int ParseWindowOptions(const std::vector<std::string>& args, WindowOptions& o) {
    const std::size_t argc = args.size();
    for (std::size_t i = 1; i < argc; ++i) {
        const std::string& arg = args[i];
        if (arg == "--version") {
            zembra::PrintText(stdout, "%s (%s)\n", zembra::kApplicationTitle,
                              zembra::kVersionNumber);
            return 0;
        } else if (arg == "--help" || arg == "-h") {
            PrintUsage();
            return 0;
        } else if (arg == "--multi") {
            o.multi = true;
        } else if (arg == "--advanced") {
            o.advanced = true;
        } else if (ImageOptionSlot(arg) >= 0 && i + 1 < argc) {
            o.images.emplace_back(ImageOptionSlot(arg), args[++i]);
        } else if (arg == "--press-start") {
            o.pressStart = true;
        } else if (arg == "--exit-when-done") {
            o.exitWhenDone = true;
        } else if (arg == "--quit-after" && i + 1 < argc) {
            o.quitAfterMs = std::atoi(args[++i].c_str());
        } else if (arg.rfind("--", 0) == 0) {
            zembra::PrintText(stderr, "zembra: unknown option %s\n", arg.c_str());
            PrintUsage();
            return 2;
        } else if (arg == "-platform") {
            o.platformGiven = true;
        }
    }
    return -1;
}

// The name of the visible panel's Start button.
const char* StartButtonName(const zembra::TMainForm& form) {
    return form.IsSingleMode() ? "BitBtnDOStart" : "BitBtnMultiStart";
}

// Runs the window with the options' clicks until it is closed; its exit status.
int RunWindow(QApplication& app, zembra::QtDialogHost& dialogs, zembra::QtMainThread& mainThread,
              const WindowOptions& o) {
    zembra::MainFormOptions options;
    options.dialogs = &dialogs;
    zembra::DownloadTimings timings;
    zembra::AppWindows windows(options, timings);
    zembra::TMainForm& form = *windows.mainForm;
    dialogs.SetParent(&form);
    mainThread.SetErrorReporter([&form](const std::string& m) { form.ShowException(m); });
    form.show();
    if (o.multi) form.findChild<QRadioButton*>("RadioButtonMulti")->click();
    if (o.advanced) form.findChild<QPushButton*>("BitBtnAM")->click();
    for (const auto& [slot, path] : o.images) form.SelectImageFile(slot, path);
    if (o.quitAfterMs >= 0) QTimer::singleShot(o.quitAfterMs, &form, [&form] { form.close(); });
    bool succeeded = false;
    QTimer watch;
    if (o.pressStart) {
        // After the first showing (and its automatic configuration load).
        QTimer::singleShot(
            100, &form, [&form] { form.findChild<QPushButton*>(StartButtonName(form))->click(); });
        if (o.exitWhenDone) {
            QObject::connect(&watch, &QTimer::timeout, &form, [&] {
                // The records too: a record's red line belongs to the log printed.
                if (!windows.downloads->Idle() || !windows.downloads->RecordsWritten() ||
                    !form.findChild<QPushButton*>(StartButtonName(form))->isEnabled())
                    return;
                watch.stop();
                succeeded = PrintRunResult(form, *windows.downloads);
                form.close();
            });
            QTimer::singleShot(200, &form, [&watch] { watch.start(100); });
        }
    }
    int result = app.exec();
    if (o.pressStart && o.exitWhenDone && result == 0 && !succeeded) result = 1;
    dialogs.SetParent(nullptr);
    mainThread.SetErrorReporter(nullptr);
    return result;
}

}  // namespace

int main(int argc, char** argv) {
    WindowOptions o;
    // The arguments as the system has them (UTF-16 on Windows, whatever the code page); Qt
    // reads its own from the same place.
    if (const int status = ParseWindowOptions(zembra::ProgramArguments(argc, argv), o); status >= 0)
        return status;

    // Without a display Qt would abort; say what to do instead.
    if (!o.platformGiven && !zembra::DisplayAvailable()) {
        zembra::PrintText(stderr,
                          "zembra: no display (DISPLAY and WAYLAND_DISPLAY are not set).\n"
                          "  To run the window without a screen: QT_QPA_PLATFORM=offscreen zembra "
                          "--quit-after 1000\n"
                          "  For downloads from a console: zembra-cli --help\n");
        return 3;
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName(QString::fromUtf8(zembra::kApplicationTitle));
    QApplication::setFont(zembra::WindowFont());
    zembra::InstallToolkitTranslation();

    zembra::QtDialogHost dialogs;
    try {
        zembra::QtMainThread mainThread;
        zembra::SetProcessMainThread(&mainThread);
        const int result = RunWindow(app, dialogs, mainThread, o);
        zembra::SetProcessMainThread(nullptr);
        return result;
    } catch (const std::exception& e) {
        // An error that escapes start-up is shown and ends the program.
        zembra::SetProcessMainThread(nullptr);
        zembra::PrintText(stderr, "zembra: %s\n", e.what());
        dialogs.ShowMessage(e.what(), zembra::kApplicationTitle,
                            zembra::mb::kOk | zembra::mb::kIconStop);
        return 1;
    }
}

#include "cli/JobFromOptions.h"

#include <cstdio>

#include "job/ConfigFile.h"
#include "job/FlashRanges.h"
#include "job/ImageChecks.h"
#include "job/JobCheck.h"
#include "platform/Helpers.h"
#include "protocol/AskOperator.h"
#include "protocol/SequenceHost.h"
#include "records/RecordStore.h"

namespace zembra {

namespace {

// The folder of a path (both separators, as the configuration file's path may be a Windows one).
std::string FolderOf(const std::string& path) {
    const std::string parent = ParentFolder(path);
    if (!parent.empty()) return parent;
    return path.find_first_of("/\\") == 0 ? "/" : ".";
}

// The window's file selection for one slot; false when the file is refused.
bool SelectFile(int slot, const std::string& path, const DownloadSettings& settings,
                DownloadJob& job, ConsoleHost& console) {
    const SelectionResult selection = SelectImageFile(slot, path, settings.checkBinSize64K);
    for (const LogLine& line : selection.log)
        console.AppendLine(LogPane::Front, line.text, line.colour);
    ApplySelection(job[slot], selection);
    if (!selection.selected) {
        console.Error(FormatText("%s image %s refused", SlotCaption(slot), path.c_str()));
        return false;
    }
    return true;
}

// A prescribed name is a file name in the image folder, never a path out of it.
bool StaysInFolder(const std::string& name) {
    return name.find_first_of("/\\") == std::string::npos && name != "." && name != "..";
}

// The trace file is emptied when the run begins: only a regular file that is none of the
// run's inputs and not the records database, or a new file.
bool TraceFileRefused(const std::string& trace, const CliOptions& options, const DownloadJob& job,
                      ConsoleHost& console) {
    std::vector<GuardedFile> guarded{
        {GuardedFile::Role::Configuration, options.configPath},
        {GuardedFile::Role::Records, RecordsPathFor(options.recordsPath)}};
    for (int slot = 0; slot < ImageSlot::Count; ++slot)
        guarded.push_back({GuardedFile::Role::Image, job[slot].path});
    const TraceFileVerdict verdict = CheckTraceFile(trace, guarded);
    if (verdict.usable()) return false;
    if (verdict.kind == TraceFileVerdict::Kind::NotARegularFile) {
        console.Error("the trace file " + trace +
                      " is not a regular file (a device, FIFO or folder is never emptied): "
                      "choose another trace file");
        return true;
    }
    const char* what = verdict.clash->role == GuardedFile::Role::Records ? "the records database "
                                                                         : "the input file ";
    console.Error("the trace file " + trace + " is " + what + verdict.clash->path +
                  ": choose another trace file");
    return true;
}

}  // namespace

bool BuildJobFromOptions(const CliOptions& options, Link link, DownloadJob& job,
                         DownloadSettings& settings, ConsoleHost& console) {
    // The configuration file, as the window's "환경파일" button loads it.
    if (!options.configPath.empty()) {
        if (!CanOpenForReading(options.configPath)) {
            console.Error("cannot read the configuration file " + options.configPath);
            return false;
        }
        const ConfigReadResult read =
            ReadConfigFile(options.configPath, ConfigSource::Dialog, job, settings);
        console.AppendLine(LogPane::Front, read.log.text, read.log.colour);
        if (!read.opened) return false;
        if (read.showPopUp) console.AppendLine(LogPane::Front, read.popUpText, COLOUR_BLUE);
    }

    // Settings given on the command line win over the file's.
    if (options.packetResponseWaitMs) settings.packetResponseWaitMs = *options.packetResponseWaitMs;
    if (options.normalResponseWaitMs) settings.normalResponseWaitMs = *options.normalResponseWaitMs;
    if (options.cmdGapMs) settings.cmdGapMs = *options.cmdGapMs;
    if (options.eraseWaitSec) settings.eraseWaitSec = *options.eraseWaitSec;
    if (options.showInvalidFcsNak) settings.showInvalidFcsNak = *options.showInvalidFcsNak;
    if (options.checkBinSize64K) settings.checkBinSize64K = *options.checkBinSize64K;
    if (options.allowFont0Address) settings.allowFont0Address = *options.allowFont0Address;
    if (options.autoHexPrefix) settings.autoHexPrefix = *options.autoHexPrefix;
    if (options.protocol) {
        (link == Link::Usb ? settings.usbProtocol : settings.serialProtocol) = *options.protocol;
    }
    if (options.change) job.change = true;

    // The images: given ones, else the configuration's prescribed names in the image folder.
    const std::string imageDir = !options.imageDir.empty()     ? options.imageDir
                                 : !options.configPath.empty() ? FolderOf(options.configPath)
                                                               : ".";
    for (int slot = 0; slot < ImageSlot::Count; ++slot) {
        std::string path = options.paths[static_cast<std::size_t>(slot)];
        const std::string& expected = job[slot].expectedName;
        if (path.empty() && job.configLoaded && !expected.empty() && expected != ANY_FILE) {
            if (!StaysInFolder(expected)) {
                console.Error(FormatText("%s: the prescribed file name %s leaves the image folder",
                                         SlotCaption(slot), expected.c_str()));
                return false;
            }
            const std::string candidate = imageDir + "/" + expected;
            if (FileExists(candidate)) path = candidate;
        }
        if (path.empty()) continue;
        if (!SelectFile(slot, path, settings, job, console)) return false;
    }
    for (int slot = ImageSlot::Font1; slot <= ImageSlot::Font6; ++slot) {
        const auto& text = options.addresses[static_cast<std::size_t>(slot)];
        if (text) job[slot].addressText = AddressOnExit(*text, settings.autoHexPrefix);
    }
    if (!options.traceFile.empty() && TraceFileRefused(options.traceFile, options, job, console))
        return false;
    return true;
}

bool PreFlightAccepted(const DownloadJob& job, ConsoleHost& host) {
    const std::vector<std::string> problems = FlashRangeProblems(job);
    if (problems.empty()) return true;
    for (const std::string& line : problems) host.AppendLine(LogPane::Front, line, COLOUR_RED);
    if (host.AskOperator(FLASH_RANGE_QUESTION, QUESTION_CAPTION, mb::kYesNo) == mb::kIdYes)
        return true;
    host.Error(
        "job refused: the images' flash ranges have problems (see above; --yes sends it anyway)");
    return false;
}

void StartCliTrace(DebugTrace& trace, const std::string& fileName, ConsoleHost& console) {
    if (fileName.empty()) return;
    if (!trace.Start(fileName)) {
        console.Error("the trace file " + fileName +
                      " is no longer a regular file: no trace is written");
        return;
    }
    if (std::FILE* probe = OpenFile(fileName, "ab")) {
        std::fclose(probe);
    } else {
        console.Error("cannot write the trace file " + fileName +
                      ": its lines are lost (the download goes on)");
    }
}

}  // namespace zembra

#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "job/DownloadJob.h"
#include "job/DownloadSettings.h"
#include "job/ImageChecks.h"
#include "job/StartSnapshot.h"

namespace zembra {

// The configuration (environment) file: CP949 text of bracketed Korean keys each followed on
// the same line by its value, lines ended by CR LF.

inline constexpr char DEFAULT_CONFIG_NAME[] = "ZembraCFG.TXT";
inline constexpr char CONFIG_OPEN_FILTER[] = "환경 TXT 파일|*.TXT|모든 파일|*.*";
inline constexpr char CONFIG_SAVE_FILTER[] = "TXT|*.txt|All|*.*";
inline constexpr char CONFIG_SAVE_DEFAULT_EXT[] = "TXT";
inline constexpr char CONFIG_SAVE_ERROR[] = "파일 저장 오류";  // message box text
inline constexpr char CONFIG_SAVE_ERROR_CAPTION[] = "주의";

// Longest text or number value taken from a line; the rest of such a line is skipped.
inline constexpr std::size_t CONFIG_MAX_VALUE = 4096;

// Where a read is started from: the "환경파일" button's dialog, or the automatic load of the
// settings-only file next to the program.
enum class ConfigSource { Dialog, Auto };

// What the writer writes: the full file or the settings only.
enum class ConfigFileKind { Full, SettingsOnly };

struct ConfigReadResult {
    // False: the file could not be opened for reading (removed or locked after it was chosen,
    // not a regular file). Nothing was read and the model is untouched; `log` says why.
    bool opened = false;
    std::int64_t size = 0;
    // Opened: "환경파일읽기:%s 크기:0x%X,%d 바이트" in black. Not opened: a red error line.
    LogLine log;
    // A "[로드시띄우는창]" key occurred: the pop-up pane must be emptied and hold popUpText
    // (the value of the last such key, UTF-8) as its only line.
    bool popUpKeySeen = false;
    std::string popUpText;
    // Some pop-up value was not blank: show the pop-up modally once the file is closed.
    bool showPopUp = false;
};

// SpeedButtonCfgClick from step 4 on (the dialog has been accepted, or the automatic load):
// reads the file and applies every value at once to the job and the settings. A dialog
// load also stores configPath, empties the six font addresses and sets configLoaded (the
// window locks the address change and the address fields while configLoaded holds). The
// automatic load changes none of these except through the file's own keys.
// The file is streamed with bounded memory; any content is accepted.
ConfigReadResult ReadConfigFile(const std::string& path, ConfigSource source, DownloadJob& job,
                                DownloadSettings& settings);

// Releasing SpeedButtonCfg, or cancelling its dialog: empties configPath and modelName, sets
// every expectedName to ANY_FILE, clears configLoaded. change, the addresses and the
// settings keep their values.
void ReleaseConfig(DownloadJob& job);

struct ConfigWriteResult {
    bool ok = false;
    // A time field that is not a valid integer; found before the file is touched.
    std::optional<ConversionError> conversionError;
    // The file could not be written (show CONFIG_SAVE_ERROR / CONFIG_SAVE_ERROR_CAPTION);
    // the reason from the system, for a log line.
    std::string ioError;
    // The save was refused before the file was touched (an image's file name has a character
    // CP949 cannot hold): the text to show the operator, with CONFIG_SAVE_ERROR_CAPTION.
    std::string refusal;
};

// The configuration save after its dialog (or with autoConfig): validates every number,
// then writes the file through a temporary file in the same folder that replaces the old
// file only once it is completely written and flushed. An existing file is never damaged:
// after any failure it holds its old content. A symbolic link stays a link (the file it
// names is replaced), the file keeps its owner, group and mode, and a full file whose image
// names CP949 cannot hold is refused.
ConfigWriteResult WriteConfigFile(const std::string& path, const DownloadJob& job,
                                  const DownloadSettings& settings, ConfigFileKind kind);

// The settings-only file next to the program: the program's path with its extension of
// four characters (".exe") removed, followed by "cfg.txt". A program without such an
// extension (the usual case on Linux) keeps its whole name: /usr/bin/zembra ->
// /usr/bin/zembracfg.txt, C:\Zembra\Zembra.exe -> C:\Zembra\Zembracfg.txt.
std::string AutoConfigPathFor(const std::string& programPath);

// AutoConfigPathFor(ProgramPath()).
std::string autoConfigPath();

// True when the file can be opened for reading (the automatic load runs only then).
bool CanOpenForReading(const std::string& path);

}  // namespace zembra

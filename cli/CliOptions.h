#pragma once

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "job/DownloadSettings.h"
#include "job/ImageSlot.h"

namespace zembra {

// Exit statuses of zembra-cli. 0 only when every selected image was written and the reset
// jump was sent.
enum CliExit : int {
    EXIT_OK = 0,
    EXIT_INTERNAL = 1,        // unexpected failure of the program itself
    EXIT_USAGE = 2,           // bad command line
    EXIT_JOB_REFUSED = 3,     // job checks, image selection checks, configuration file
    EXIT_PORT_OPEN = 4,       // the port cannot be opened
    EXIT_NO_ANSWER = 5,       // first download start request: no answer or refused
    EXIT_VERSION = 6,         // version check: no answer, or mismatch not accepted
    EXIT_COMPRESSION = 7,     // compressed mode unavailable, compressor check failed
    EXIT_UART_SETUP = 8,      // module copy or baud switch refused (UART)
    EXIT_JUMP = 9,            // jump into the download module / second start refused
    EXIT_IMAGE_FILE = 10,     // code file missing, invalid version/boot word, size rule
    EXIT_ERASE = 11,          // erase: no answer or refused
    EXIT_TRANSFER = 12,       // data transfer: no answer, too many NAKs or echo failures
    EXIT_FILE_CHANGED = 13,   // an image file shrank or could not be read during the run
    EXIT_STOPPED = 14,        // stopped by the operator (Ctrl-C)
    EXIT_PHONE_FAILED = 15,   // --station: a phone failed; --multi: a slot failed (endCode 2-10)
    EXIT_RECORD_FAILED = 16,  // every download succeeded, a download record was not written
    EXIT_UNREADABLE = 17,     // records: the database cannot be read
    EXIT_RESET_REFUSED = 18,  // every image sent, the phone refused the reset jump
    EXIT_OUTPUT_FAILED = 19,  // all else went well, but the standard output could not be written
    EXIT_NOT_SENT = 20,       // records --send: the line server could not take the records
};

// The exit status once the downloads are over: status, or EXIT_RECORD_FAILED when status is
// 0 and a download record could not be written.
inline int WithRecordStatus(int status, bool recordFailed) {
    return status == 0 && recordFailed ? EXIT_RECORD_FAILED : status;
}

enum class AnswerMode { Ask, Yes, No };
enum class ColourMode { Auto, Always, Never };

// What the command line asks for. Unset optionals keep the window's defaults or the values of
// the configuration file.
struct CliOptions {
    bool help = false;
    bool version = false;

    // Job.
    std::array<std::string, ImageSlot::Count> paths{};                     // --code, --font1..6
    std::array<std::optional<std::string>, ImageSlot::Count> addresses{};  // --fontN-address
    std::string configPath;                                                // --config
    std::string imageDir;                                                  // --image-dir
    bool change = false;                                                   // --change

    // Link and port. One port in single mode (the list leaves room for the multi mode).
    std::optional<Link> link;
    std::optional<ProtocolChoice> protocol;
    std::vector<std::string> ports;

    // Advanced settings (texts as the window's fields hold them).
    std::optional<std::string> packetResponseWaitMs;
    std::optional<std::string> normalResponseWaitMs;
    std::optional<std::string> cmdGapMs;
    std::optional<std::string> eraseWaitSec;
    std::optional<bool> showInvalidFcsNak;
    std::optional<bool> checkBinSize64K;
    std::optional<bool> allowFont0Address;
    std::optional<bool> autoHexPrefix;

    // Operator.
    AnswerMode answer = AnswerMode::Ask;
    std::string traceFile;
    bool traceData = false;
    ColourMode colour = ColourMode::Auto;
    bool quiet = false;  // no progress bar

    // Records and the station.
    std::string recordsPath;     // --records FILE ("off": none); empty: configuration or default
    std::string recordsServer;   // --records-server URL ("off": none); empty: configuration
    std::string serverFile;      // --records-server-file FILE: the connection string's file
    std::string stationName;     // --station-name NAME; empty: configuration or host name
    bool station = false;        // --station: flash every phone that appears in the device map
    int waitForPhoneSec = 0;     // --wait-for-phone SEC with --port auto
    int stationSettleMs = 1000;  // --station-settle MS (multi station: phones arriving together)
    bool boundOnly = false;      // --bound-only: with a slot map, only phones at its ports

    // Multi mode (--multi, or --all-phones alone): up to eight --port, or the whole map.
    bool multi = false;
    bool allPhones = false;        // --all-phones: every phone of the serial-device map
    bool versionCheck = true;      // --no-version-check
    std::optional<int> staggerMs;  // --stagger MS between two slots' first packets

    // Not for operators: shortens the worker's fixed start-up sleep (tests, demos).
    std::optional<int> startupSleepMs;
};

struct CliParseResult {
    CliOptions options;
    std::string error;  // empty when the command line is valid
    bool ok() const { return error.empty(); }
};

// The whole command line of a download, single or multi mode (--multi, --all-phones), with
// the port rules of its mode.
CliParseResult ParseCliOptions(const std::vector<std::string>& args);

// One command-line word as "--name=value": the name, and the value when the word carries one
// (a word that does not start with "--" is only a name).
struct OptionWord {
    std::string name;
    std::optional<std::string> value;
};
OptionWord SplitOptionWord(const std::string& word);

// The --help text.
std::string CliHelpText();

}  // namespace zembra

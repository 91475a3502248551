#include "cli/CliOptions.h"

#include <cstdint>
#include <functional>
#include <map>
#include <utility>

#include "job/StartSnapshot.h"
#include "platform/Helpers.h"

namespace zembra {

namespace {

// What is wrong with the ports of a single (one --port, or --station) or a multi command
// line; empty when nothing is.
std::string SinglePortRule(const CliOptions& o) {
    if (!o.versionCheck || o.staggerMs)
        return std::string(o.staggerMs ? "--stagger" : "--no-version-check") +
               " is an option of the multi mode (--multi)";
    if (o.station) {
        if (!o.ports.empty())
            return "--station takes the phones from the serial-device map, not --port";
        return {};
    }
    if (o.ports.empty()) return "--port is required (a COMn name or a device path)";
    if (o.ports.size() > 1) return "one --port only: the single download drives one phone";
    return {};
}

std::string MultiPortRule(const CliOptions& o) {
    if (o.link == Link::Serial) return "the multi download runs on the USB link only";
    if (o.allPhones && !o.ports.empty()) return "--all-phones and --port exclude each other";
    if (o.station && (o.allPhones || !o.ports.empty()))
        return "--station takes the phones from the serial-device map, not --port or "
               "--all-phones";
    if (!o.station && !o.allPhones && o.ports.empty())
        return "multi mode needs --port (up to eight) or --all-phones";
    return {};
}

}  // namespace

OptionWord SplitOptionWord(const std::string& word) {
    OptionWord out{word, std::nullopt};
    const std::size_t eq = word.find('=');
    if (word.rfind("--", 0) == 0 && eq != std::string::npos) {
        out.value = word.substr(eq + 1);
        out.name = word.substr(0, eq);
    }
    return out;
}

namespace {

// An option's setter: an error text, empty when the value was taken.
using Setter = std::function<std::string(const std::string&)>;

// The options: each one's setter or flag.
struct OptionTable {
    std::map<std::string, Setter> withValue;
    std::map<std::string, std::function<void()>> flags;
};

// Keeps the value as given; emptyError: the error of an empty value (none: taken as well).
template <class Field>
Setter Keep(Field& field, std::string emptyError = {}) {
    return [&field, emptyError](const std::string& v) {
        if (v.empty() && !emptyError.empty()) return emptyError;
        field = v;
        return std::string();
    };
}

// Takes a whole decimal number from 0 to max; error for any other value.
template <class Field>
Setter Whole(Field& field, std::int32_t max, std::string error) {
    return [&field, max, error](const std::string& v) {
        const std::optional<std::int32_t> n = StrictDecimal(v);
        if (!n || *n < 0 || *n > max) return error;
        field = *n;
        return std::string();
    };
}

// Takes one of the named choices; error for any other value.
template <class Field, class Value>
Setter Choice(Field& field, std::vector<std::pair<std::string, Value>> choices, std::string error) {
    return [&field, choices = std::move(choices), error](const std::string& v) {
        for (const auto& [name, value] : choices) {
            if (v != name) continue;
            field = value;
            return std::string();
        }
        return error;
    };
}

// The images, their addresses, the configuration file and the advanced settings given as
// values.
void AddJobOptions(OptionTable& t, CliOptions& o) {
    auto& withValue = t.withValue;
    withValue["--code"] = Keep(o.paths[ImageSlot::Code]);
    for (std::size_t n = 1; n <= 6; ++n) {
        withValue[FormatText("--font%zu", n)] = Keep(o.paths[n]);
        withValue[FormatText("--font%zu-address", n)] = Keep(o.addresses[n]);
    }
    withValue["--config"] = Keep(o.configPath);
    withValue["--image-dir"] = Keep(o.imageDir);
    withValue["--packet-wait"] = Keep(o.packetResponseWaitMs);
    withValue["--command-wait"] = Keep(o.normalResponseWaitMs);
    withValue["--gap"] = Keep(o.cmdGapMs);
    withValue["--erase-wait"] = Keep(o.eraseWaitSec);
}

// Link, protocol and port.
void AddLinkOptions(OptionTable& t, CliOptions& o) {
    auto& withValue = t.withValue;
    withValue["--link"] =
        Choice(o.link,
               std::vector<std::pair<std::string, Link>>{
                   {"usb", Link::Usb}, {"serial", Link::Serial}, {"uart", Link::Serial}},
               "--link takes usb or serial");
    withValue["--protocol"] = Choice(
        o.protocol,
        std::vector<std::pair<std::string, ProtocolChoice>>{{"auto", ProtocolChoice::Auto},
                                                            {"compressed", ProtocolChoice::Press},
                                                            {"ppv", ProtocolChoice::Press},
                                                            {"press", ProtocolChoice::Press},
                                                            {"normal", ProtocolChoice::Normal}},
        "--protocol takes auto, compressed or normal");
    withValue["--port"] = [&](const std::string& v) -> std::string {
        if (v.empty()) return "--port needs a port name or a device path";
        o.ports.push_back(v);
        return {};
    };
}

// Trace, colours, the start-up delay, records, the line server, the station and the multi
// mode's stagger.
void AddRunOptions(OptionTable& t, CliOptions& o) {
    auto& withValue = t.withValue;
    withValue["--trace"] = Keep(o.traceFile, "--trace needs a file name");
    withValue["--color"] =
        Choice(o.colour,
               std::vector<std::pair<std::string, ColourMode>>{{"auto", ColourMode::Auto},
                                                               {"always", ColourMode::Always},
                                                               {"never", ColourMode::Never}},
               "--color takes auto, always or never");
    withValue["--startup-delay"] =
        Whole(o.startupSleepMs, INT32_MAX, "--startup-delay takes milliseconds");
    withValue["--records"] = Keep(o.recordsPath, "--records needs a file name (or off)");
    withValue["--records-server"] =
        Keep(o.recordsServer, "--records-server needs a connection string (or off)");
    withValue["--records-server-file"] =
        Keep(o.serverFile, "--records-server-file needs a file name");
    withValue["--station-name"] = Keep(o.stationName, "--station-name needs a name");
    withValue["--wait-for-phone"] =
        Whole(o.waitForPhoneSec, INT32_MAX, "--wait-for-phone takes seconds");
    withValue["--station-settle"] =
        Whole(o.stationSettleMs, 60000, "--station-settle takes milliseconds (0-60000)");
    withValue["--stagger"] = Whole(o.staggerMs, 60000, "--stagger takes milliseconds (0-60000)");
}

// Every option without a value.
void AddFlags(OptionTable& t, CliOptions& o) {
    auto& flags = t.flags;
    flags["--station"] = [&] { o.station = true; };
    flags["--bound-only"] = [&] { o.boundOnly = true; };
    flags["--multi"] = [&] { o.multi = true; };
    flags["--all-phones"] = [&] { o.multi = o.allPhones = true; };
    flags["--no-version-check"] = [&] { o.versionCheck = false; };
    flags["--no-records"] = [&] { o.recordsPath = "off"; };
    flags["--help"] = [&] { o.help = true; };
    flags["-h"] = [&] { o.help = true; };
    flags["--version"] = [&] { o.version = true; };
    flags["--change"] = [&] { o.change = true; };
    flags["--usb"] = [&] { o.link = Link::Usb; };
    flags["--serial"] = [&] { o.link = Link::Serial; };
    // Each setting's --NAME ticks it and --no-NAME unticks it.
    for (auto [name, field] :
         {std::pair{"show-nak", &o.showInvalidFcsNak}, std::pair{"size-check", &o.checkBinSize64K},
          std::pair{"allow-font0-address", &o.allowFont0Address},
          std::pair{"auto-hex", &o.autoHexPrefix}}) {
        flags[std::string("--") + name] = [field] { *field = true; };
        flags[std::string("--no-") + name] = [field] { *field = false; };
    }
    flags["--yes"] = [&] { o.answer = AnswerMode::Yes; };
    flags["-y"] = [&] { o.answer = AnswerMode::Yes; };
    flags["--no"] = [&] { o.answer = AnswerMode::No; };
    flags["--trace-data"] = [&] { o.traceData = true; };
    flags["--quiet"] = [&] { o.quiet = true; };
    flags["-q"] = [&] { o.quiet = true; };
}

}  // namespace

CliParseResult ParseCliOptions(const std::vector<std::string>& args) {
    CliParseResult result;
    CliOptions& o = result.options;
    OptionTable table;
    for (auto add : {AddJobOptions, AddLinkOptions, AddRunOptions, AddFlags}) add(table, o);
    auto& withValue = table.withValue;
    auto& flags = table.flags;

    for (std::size_t i = 0; i < args.size(); ++i) {
        auto [name, value] = SplitOptionWord(args[i]);
        if (auto f = flags.find(name); f != flags.end()) {
            if (value) {
                result.error = name + " takes no value";
                return result;
            }
            f->second();
            continue;
        }
        auto s = withValue.find(name);
        if (s == withValue.end()) {
            result.error = "unknown option " + args[i] + " (see --help)";
            return result;
        }
        if (!value) {
            if (i + 1 >= args.size()) {
                result.error = name + " needs a value";
                return result;
            }
            value = args[++i];
        }
        const std::string error = s->second(*value);
        if (!error.empty()) {
            result.error = error;
            return result;
        }
    }
    if (o.help || o.version) return result;
    result.error = o.multi ? MultiPortRule(o) : SinglePortRule(o);
    return result;
}

std::string CliHelpText() {
    return R"(Usage: zembra-cli --port PORT [job] [link] [settings] [operator options]

Writes one code image and up to six font images into one phone over its USB modem or a
UART cable, with the same engine and the same Korean log as the Zembra window.

Job (at least one image):
  --code FILE            code image; sent from its boot location (trailer at size-16),
                         or whole to address 0 with --change
  --font1 FILE ... --font6 FILE
                         font images; a file name with the tag "_0x<hex>" gives the
                         start address (as the window's file selection does)
  --font1-address ADDR ... --font6-address ADDR
                         flash start address of a font: "0x..." is hexadecimal; a number
                         without "0x" gets the prefix while the auto-hex option is on (the
                         window's default), so 10000 means 0x10000; with --no-auto-hex it
                         is decimal
  --change               send the code image whole to address 0
  --config FILE          configuration file of the window ("ZembraCFG.TXT", CP949): model,
                         file names prescribed per image, font addresses, Change and the
                         advanced settings. Images not given by --code/--fontN are taken
                         by their prescribed names from --image-dir; a file that does not
                         match its prescribed name refuses the job (see --yes)
  --image-dir DIR        folder of the configured images (default: the configuration
                         file's folder)

Link and port:
  --port auto            the phone with the lowest device number in the serial-device map
                         ("\Device\trelvic<d>"), as the window's automatic detection
  --wait-for-phone SEC   with --port auto: wait up to SEC seconds for a phone (default 0)
  --port PORT            "COMn" (resolved through the port alias folder, else COM1-32 ->
                         /dev/ttyS0-31, COM33-64 -> /dev/ttyUSB0-31, COM65-96 ->
                         /dev/ttyACM0-31) or a device path such as /dev/ttyACM0
  --link usb|serial      the phone's USB modem (default) or a UART cable
  --usb, --serial        the same
  --protocol auto|compressed|normal
                         auto (default) asks the phone for the compressed mode and falls
                         back to the normal one; compressed = "PPV USB" / "Press UART"
                         (LZO1X-1 in 64 KiB blocks); normal = plain transfer

Advanced settings (defaults as in the window; a configuration file may set them):
  --packet-wait MS       answer wait for a data packet (20000; 0 means 10000)
  --command-wait MS      answer wait for a command (500; 0 means 500)
  --gap MS               pause between two commands (200; 0 means 200)
  --erase-wait SEC       answer wait for an erase (600)
  --show-nak             show negative answers other than NAK INVALID FCS
  --no-size-check        allow image sizes that are not a multiple of 64 KiB
  --allow-font0-address  accept a font start address of 0
  --auto-hex, --no-auto-hex
                         add "0x" to font addresses typed without it (default on)

Operator:
  --yes, -y              answer every question with OK/Yes (version mismatch, a job
                         that does not match its configuration)
  --no                   answer every question with Cancel/No
                         (without either, questions are asked on the terminal; with no
                         terminal they are answered Cancel/No)
  --trace FILE           debug trace: one line per packet written and per chunk
                         received ("[W:count ms elapsed]", "[R:count ms elapsed] bytes");
                         the file is emptied first; FILE must be a regular file (or
                         a new one) and none of the inputs or the records database
  --trace-data           add the written bytes to the trace's write lines
  --color auto|always|never
                         colour the log lines (red errors, blue notices); auto = only on a
                         terminal
  --quiet, -q            no progress bar
  --help, -h             this text
  --version              program version

Station (a phone after another, hands off):
  --station              wait for phones in the serial-device map and flash each one with
                         the same job as it arrives, one line per phone (port, result,
                         duration); a phone that stays plugged in is not flashed twice, one
                         plugged in again is. Ctrl-C ends it with a summary (phones done,
                         failed, per hour). With --multi: the phones present (device
                         numbers 0-7, slot d + 1) are flashed together
  --station-settle MS    --multi --station: wait MS after the first new phone for others
                         to arrive before the start (1000)
  --bound-only           with a slot map (zembra-cli slots), flash only the phones plugged
                         into its ports; others are named in the log and left alone
                         (default: "bound-only = yes" of zembra.conf)

Records (one per phone run, SQLite):
  --records FILE         the records database (default: "records-database = FILE" of
                         $XDG_CONFIG_HOME/zembra/zembra.conf, else
                         $XDG_DATA_HOME/zembra/records.sqlite); "off" or --no-records: none
  --records-server URL   forward every record to this PostgreSQL server (default:
                         "records-server = URL" of zembra.conf; "off": none); the
                         downloads never wait for it: records wait in the local database
                         until the server has them (a run that is not a station pushes
                         for a few seconds at its end). A password here is seen by every
                         account (ps): keep it in ~/.pgpass (PGPASSFILE) or PGPASSWORD,
                         or give the string with --records-server-file
  --records-server-file FILE
                         the connection string from FILE (its first line that is not a
                         "#" comment); FILE, or zembra.conf, holding a password must not
                         be readable by the group or others
  --station-name NAME    the station's name in the records (default: "station-name = NAME"
                         of zembra.conf, else the host name)
  zembra-cli records [--help] lists, filters and exports the records
  zembra-cli slots learn|list|forget binds slots to physical USB ports (slots --help)
  zembra-cli report --html FILE writes the line report

Pre-flight: images whose flash ranges overlap, end beyond the 4 GiB address space or are
larger than the 32-bit erase length are refused unless confirmed (--yes).

Multi mode (up to eight phones on USB): --multi or --all-phones, see
"zembra-cli --multi --help".

Ctrl-C asks the phone's download to stop (as the window's stop button); the run ends at
the next wait with "다운 로드 종료". SIGTERM, a hang-up and a closed output (for example
"| head -1") stop it the same way. A third Ctrl-C quits at once (status 130).

Exit status:
   0  every selected image written and the reset jump sent (and not refused)
   1  internal error
   2  bad command line
   3  job refused (job checks, image file checks, configuration file, settings)
   4  the port could not be opened
   5  no answer or a refusal at the first download start request
   6  version check: no answer, or the mismatch was not accepted
   7  compressed mode unavailable (or the compressor failed its check)
   8  UART module copy or baud switch refused
   9  jump into the download module or its start request refused
  10  image file problem during the run (code file missing, version/boot word, size, a
      selected image that could not be opened when its turn came)
  11  erase: no answer or refused
  12  data transfer failed (no answer, too many negative answers, checksum echoes)
  13  an image file changed after the job check (replaced, rewritten, shrank) or could
      not be read during the run
  14  stopped by the operator (Ctrl-C, SIGTERM, SIGHUP, closed output)
  15  --station: at least one phone failed
  16  every download succeeded, but a download record could not be written
  17  zembra-cli records: the records database cannot be read
  18  every image sent, but the phone refused the reset jump (a range not fully written)
  19  all went well, but the log could not be written to the standard output (disk full)
  20  zembra-cli records --send: the line server could not take the records
 130  a third Ctrl-C quit at once, without waiting for the phone
)";
}

}  // namespace zembra

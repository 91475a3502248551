#include "cli/LineServerOptions.h"

#include <algorithm>
#include <cstring>
#include <fstream>

#include "platform/UserFolders.h"
#include "records/RecordStore.h"
#include "records/ServerStore.h"

namespace zembra {

namespace {

const char* const kServerOptions[] = {"--records-server", "--server"};

// The value of argument i for a server option ("--name VALUE" or "--name=VALUE"): its
// text in argv and the option's name; nullptr when argument i is no such option.
char* ServerValue(int argc, char** argv, int i, std::string& option) {
    for (const char* name : kServerOptions) {
        const std::size_t length = std::strlen(name);
        if (std::strcmp(argv[i], name) == 0 && i + 1 < argc) {
            option = name;
            return argv[i + 1];
        }
        if (std::strncmp(argv[i], name, length) == 0 && argv[i][length] == '=') {
            option = name;
            return argv[i] + length + 1;
        }
    }
    return nullptr;
}

std::string Trimmed(const std::string& text) {
    const std::size_t a = text.find_first_not_of(" \t\r\n");
    if (a == std::string::npos) return {};
    return text.substr(a, text.find_last_not_of(" \t\r\n") - a + 1);
}

}  // namespace

std::vector<std::string> HidePasswordArguments(int argc, char** argv) {
    std::vector<std::string> options;
    for (int i = 1; i < argc; ++i) {
        std::string option;
        char* value = ServerValue(argc, argv, i, option);
        if (!value || !ConninfoHasPassword(value)) continue;
        OverwriteArgument(value);
        if (std::find(options.begin(), options.end(), option) == options.end())
            options.push_back(option);
    }
    return options;
}

std::string PasswordArgumentWarning(const std::string& option) {
    return option +
           " holds a password, which every account of this machine could read on the command "
           "line: keep it in ~/.pgpass (PGPASSFILE) or PGPASSWORD, or give the connection "
           "string with --records-server-file";
}

std::string ResolveRecordsServer(CliOptions& options) {
    if (const std::string refused = StationConfigRefusal(); !refused.empty()) return refused;
    const std::string& path = options.serverFile;
    if (path.empty()) return {};
    if (!options.recordsServer.empty())
        return "--records-server and --records-server-file: give one of them";
    std::ifstream file(path);
    if (!file) return "--records-server-file: cannot read " + path;
    for (std::string line; std::getline(file, line);) {
        line = Trimmed(line);
        if (line.empty() || line[0] == '#') continue;
        if (const std::string refused = PasswordFileRefusal(path, line); !refused.empty())
            return refused;
        options.recordsServer = line;
        return {};
    }
    return "--records-server-file: " + path + " holds no connection string";
}

}  // namespace zembra

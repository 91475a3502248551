// The line server's setting (all builds).
#include <cctype>
#include <fstream>

#include "records/ServerStore.h"

namespace zembra {

namespace {

std::string Trim(const std::string& text) {
    std::size_t a = 0, b = text.size();
    while (a < b && std::isspace(static_cast<unsigned char>(text[a]))) ++a;
    while (b > a && std::isspace(static_cast<unsigned char>(text[b - 1]))) --b;
    return text.substr(a, b - a);
}

}  // namespace

std::string StationConfigValue(const std::string& key) {
    std::ifstream config(StationConfigPath());
    std::string value;
    for (std::string line; std::getline(config, line);) {
        line = Trim(line);
        if (line.empty() || line[0] == '#') continue;
        const std::size_t eq = line.find('=');
        if (eq != std::string::npos && Trim(line.substr(0, eq)) == key)
            value = Trim(line.substr(eq + 1));
    }
    return value;
}

std::string RecordsServerFor(const std::string& given) {
    const std::string server = given.empty() ? StationConfigValue("records-server") : given;
    return server == "off" ? std::string() : server;
}

}  // namespace zembra

#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace zembra {

// "zembra-cli records ...": lists, filters and exports the download records (args are the
// words after "records"). Returns 0, 2 on a bad command line, 17 when the database cannot be
// read.
int RunRecordsCommand(const std::vector<std::string>& args, std::FILE* out = stdout,
                      std::FILE* err = stderr);

// zembra-cli report --html FILE [--server URL | --db FILE] [filters].
int RunReportCommand(const std::vector<std::string>& args, std::FILE* out = stdout,
                     std::FILE* err = stderr);

}  // namespace zembra

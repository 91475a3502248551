#pragma once

#include <functional>
#include <memory>
#include <string>

#include "records/LineSender.h"

namespace zembra {

// A station's line sender with its console lines: started when a line server is set (the
// option, else "records-server" of the configuration file) and the station keeps records;
// stopped with the object. Poll() runs on the station's thread.
class StationLineSender {
  public:
    // localPath: the records database ("" when records are off); serverOption:
    // --records-server (empty: the configuration file). print gets each console line.
    StationLineSender(const std::string& localPath, const std::string& serverOption,
                      std::function<void(const std::string&)> print);
    ~StationLineSender();

    // Prints one line when the number of records waiting or the sender's error changed.
    void Poll();
    // A phone's record has been written.
    void RecordWritten();
    // For the station's summary: ", 3 records waiting for the line server" ("" without one).
    std::string SummaryText() const;

  private:
    std::unique_ptr<LineSender> sender_;
    std::function<void(const std::string&)> print_;
    LineSenderStatus shown_;
};

}  // namespace zembra

// records_bench [--count N] [--dir DIR]: the time to write one download record (a
// transaction with seven images, WAL, synchronous FULL) against the reference of appending
// the same record as one JSON line to a plain file with fsync, and the SHA-256 speed of the
// image hashes. Prints milliseconds per record and processor time.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "platform/Helpers.h"
#include "records/RecordExport.h"
#include "records/RecordStore.h"
#include "records/Sha256.h"

namespace {

// Processor time (user + system) of the whole process.
double CpuMs() {
    return std::clock() * 1000.0 / CLOCKS_PER_SEC;
}

zembra::DownloadRecord Sample(int n) {
    zembra::DownloadRecord r;
    r.startUtc = r.endUtc = zembra::UtcNowIso();
    r.station = "bench";
    r.frontEnd = "zembra-cli --multi --station";
    r.port = "COM65";
    r.slot = 1 + n % 8;
    r.link = "USB";
    r.protocol = "compressed";
    r.outcome = "endCode 1";
    r.outcomeText = "완료";
    r.succeeded = true;
    for (int slot = 0; slot < 7; ++slot) {
        zembra::RecordImage image;
        image.slot = slot;
        image.fileName = "image" + std::to_string(slot) + "_0x400000.bin";
        image.size = 8 << 20;
        image.sha256 = zembra::Sha256OfBytes(reinterpret_cast<const std::uint8_t*>(&n), sizeof n);
        image.flashStart = 0x400000u * static_cast<unsigned>(slot);
        image.flashEnd = image.flashStart + (8u << 20) - 1;
        image.written = true;
        r.images.push_back(image);
    }
    return r;
}

struct Figure {
    double wallMs;
    double cpuMs;
};

template <typename F>
Figure Measure(int count, F&& write) {
    const double cpu = CpuMs();
    const double start = zembra::NowMs();
    for (int n = 0; n < count; ++n) write(n);
    return {zembra::NowMs() - start, CpuMs() - cpu};
}

}  // namespace

int main(int argc, char** argv) {
    int count = 200;
    std::string dir = "/tmp";
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string a = argv[i];
        if (a == "--count") count = std::atoi(argv[i + 1]);
        if (a == "--dir") dir = argv[i + 1];
    }
    const std::string db = dir + "/records_bench.sqlite";
    const std::string lines = dir + "/records_bench.jsonl";
    for (const std::string& p : {db, db + "-wal", db + "-shm", lines}) std::remove(p.c_str());

    zembra::RecordStore store(db);
    const Figure sqlite = Measure(count, [&](int n) {
        zembra::DownloadRecord r = Sample(n);
        if (!store.Append(r).empty()) std::abort();
    });
    const int fd = ::open(lines.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    const Figure plain = Measure(count, [&](int n) {
        const std::string line = zembra::RecordJsonLine(Sample(n));
        if (::write(fd, line.data(), line.size()) != static_cast<ssize_t>(line.size()) ||
            ::fsync(fd) != 0)
            std::abort();
    });
    ::close(fd);

    std::vector<std::uint8_t> image(64u << 20, 0x5A);
    const Figure hash = Measure(1, [&](int) { zembra::Sha256OfBytes(image.data(), image.size()); });

    std::printf("records_bench: %d records of 7 images each in %s\n", count, dir.c_str());
    std::printf("  SQLite record (WAL, FULL)  %7.3f ms/record  cpu %6.3f ms/record\n",
                sqlite.wallMs / count, sqlite.cpuMs / count);
    std::printf("  JSON line + fsync (ref.)   %7.3f ms/record  cpu %6.3f ms/record  ratio %.2f\n",
                plain.wallMs / count, plain.cpuMs / count, sqlite.wallMs / plain.wallMs);
    std::printf("  SHA-256 (nettle)           %7.1f MB/s        cpu %6.1f ms for 64 MiB\n",
                64.0 * 1048576 / 1e6 / (hash.wallMs / 1000), hash.cpuMs);
    for (const std::string& p : {db, db + "-wal", db + "-shm", lines}) std::remove(p.c_str());
    return 0;
}

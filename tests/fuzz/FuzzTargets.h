#pragma once

#include <cstddef>
#include <cstdint>

// The bodies of the fuzz targets. The libFuzzer programs (entry/, built with clang by
// scripts/fuzz.sh) and the corpus replay test (built with the normal compiler) both call
// them. A broken property prints what broke and aborts.
namespace zembra::fuzz {

// Reads the bytes as a configuration file, saves what was read and reads the saved file
// again: the settings, the Change flag, the model, the prescribed names and the addresses
// must come back as the first read left them (or the save must be refused for a name CP949
// cannot hold).
void ConfigRoundTrip(const std::uint8_t* data, std::size_t size);

// Feeds the bytes after the first to the simulated phone's receive side (the first byte picks
// the link and the compressed-mode answer), once whole and once in pieces: both phones must
// count, answer and store the same.
void PhoneReceive(const std::uint8_t* data, std::size_t size);

// Feeds the bytes after the first to the receive cutter of both engines (ResponseReceiver) in
// pieces whose sizes the first byte seeds: every answer handed over must be the one the
// cutting rules give, never empty, never holding a flag inside, and the discarded bytes must
// be counted.
void ResponseCutting(const std::uint8_t* data, std::size_t size);

// Reads the bytes as a --since/--until date of the records filters (RecordTimeBound): both
// ends accept the same texts; an accepted one gives stored-form instants with the period's
// start before its end, and a start read again gives itself.
void RecordTimeBounds(const std::uint8_t* data, std::size_t size);

// Reads the bytes as a font address text (CheckAddressText, as the job check does): a text
// it takes as a number holds only the number (with blanks after it), reads as the C library
// reads it, and stops being one with anything but a digit or blank after it.
void FontAddressText(const std::uint8_t* data, std::size_t size);

}  // namespace zembra::fuzz

#pragma once
// Fuzz targets as plain functions: the libFuzzer entry points call them, and the test
// suite replays the kept corpora through them, checks included.
#include <cstddef>
#include <cstdint>

namespace keldrin::fuzz {

// The byte-arrival handler fed arbitrary bytes, now and later (also while a handler
// pauses), interleaved with the passing of time (poll, display, watchdog and recording
// ticks), start/stop clicks, parameter commands, zero and bind clicks and edits of the
// channel rows; what is decoded and what is sent are checked against a model.
void streamOne(const std::uint8_t* data, std::size_t size);

// Every text-to-number conversion on arbitrary text, with its invariants checked.
void textToNumberOne(const std::uint8_t* data, std::size_t size);

// The table-file reader, into an empty table and over a full one, writing back and
// edits after reading, against a parse of its own; the checksum in pieces.
void tableFileOne(const std::uint8_t* data, std::size_t size);

// The CSV export of a table read from a file or built by edits, read back and compared.
void csvExportOne(const std::uint8_t* data, std::size_t size);

// The crash-journal reader on arbitrary bytes: what it recovers was written there, and
// written again it reads back the same.
void journalOne(const std::uint8_t* data, std::size_t size);

// The reader of published rows on arbitrary bytes: what it accepts publishes again the same.
void rowPayloadOne(const std::uint8_t* data, std::size_t size);

}  // namespace keldrin::fuzz

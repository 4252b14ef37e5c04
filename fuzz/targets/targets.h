#pragma once
// Fuzz targets as plain functions: the libFuzzer entry points call them, and the test
// suite replays the kept corpora through them.
#include <cstddef>
#include <cstdint>

namespace keldrin::fuzz {

// The byte-arrival handler fed arbitrary bytes, interleaved with the passing of time
// (poll, display, watchdog and recording ticks), start/stop clicks, parameter commands,
// zero and bind clicks and edits of the channel rows.
void streamOne(const std::uint8_t* data, std::size_t size);

// Every text-to-number conversion on arbitrary text, with its invariants checked.
void textToNumberOne(const std::uint8_t* data, std::size_t size);

}  // namespace keldrin::fuzz

#pragma once
// How many channels there are, and what follows from it: the record table's columns
// and the shape of everything kept per channel.
#include <array>
#include <string>

namespace keldrin {

// Eight probes, one channel row each in the window.
inline constexpr int kChannels = 8;
// The record table: the date and time, then one column per channel.
inline constexpr int kRecordColumns = 1 + kChannels;

// Kept per channel, indexed by channel 1..kChannels; element 0 is unused.
template <class T>
using PerChannel = std::array<T, kChannels + 1>;
// The headings of the channels' columns, channel 1 first.
using Headings = std::array<std::string, kChannels>;

}  // namespace keldrin

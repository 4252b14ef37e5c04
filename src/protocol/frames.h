#pragma once
// The frames the host and the receiver box exchange. The line has no start byte: a
// frame is known by its length and its fixed bytes. Frames for a probe begin with a
// three-byte head, the probe's address (high byte first) and its radio channel, which
// the box uses to route the rest, a Modbus request, over the air.
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace keldrin {

constexpr std::size_t kProbeHeadLength = 3;
constexpr std::size_t kPollLength = 10;
constexpr std::size_t kMeasurementLength = 12;
constexpr std::size_t kZeroLength = 10;
constexpr std::size_t kBindLength = 15;
constexpr std::size_t kParameterReadLength = 3;
constexpr std::size_t kParameterWriteLength = 9;
constexpr std::size_t kParameterReplyLength = 9;
constexpr std::size_t kGreetingLength = 4;

// The values cut to the head's bytes: address bits 15..8 and 7..0, channel bits 7..0.
void putProbeHead(std::span<std::uint8_t> frame, std::int32_t address, std::int32_t channel);

// Poll: read three holding registers from register 0, with the CRC 0x0120 low byte
// first. The head here (probe 0, channel 0) is overwritten before every send.
inline constexpr std::array<std::uint8_t, kPollLength> kPollTemplate = {0x00, 0x00, 0x00, 0x03, 0x00,
                                                                        0x00, 0x00, 0x03, 0x20, 0x01};
std::array<std::uint8_t, kPollLength> pollRequest(std::int32_t address, std::int32_t channel);

// Measurement: head, byte count 0x06, 0x00, sign byte, magnitude (high byte first),
// four bytes the host ignores (the box sends 00 00 and a CRC of bytes 3..9).
constexpr std::uint8_t kMeasurementByteCount = 0x06;
struct Measurement {
    int address = 0;
    int channel = 0;
    float reading = 0;  // in the probe's unit
};
// Sign byte 0x01 means -m, 0xFF means m - 65536 (two's complement), anything else +m;
// in thousandths, worked out in double and only then narrowed, so it rounds once.
float readingOf(int signByte, int magnitude);
// Empty when the byte count is wrong: the window is not aligned with a frame.
std::optional<Measurement> parseMeasurement(std::span<const std::uint8_t, kMeasurementLength> frame);
// The frame for a reading in thousandths (cut to -65535..65535), negatives as 0x01 and
// the magnitude, or with twosComplement as 0xFF and 65536 - magnitude.
std::array<std::uint8_t, kMeasurementLength> measurementFrame(std::uint16_t address, std::uint8_t channel,
                                                              std::int32_t thousandths, bool twosComplement);

// Zero: write 0 to register 0, with its fixed CRC 0x00AC. The head (probe 6 on
// channel 28) is what shows when no probe is addressed.
inline constexpr std::array<std::uint8_t, kZeroLength> kZeroTemplate = {0x00, 0x06, 0x1C, 0x06, 0x00,
                                                                        0x00, 0x00, 0x00, 0xAC, 0x00};

// Binding: write registers 0x3039..0x303A of the probe with the receiver's address
// and radio channel, CRC over the ten bytes after the head, low byte first. The
// template holds probe 3 on channel 28 and receiver 2 on channel 23.
inline constexpr std::array<std::uint8_t, kBindLength> kBindTemplate = {
    0x00, 0x03, 0x1C, 0x10, 0x30, 0x39, 0x00, 0x02, 0x04, 0x00, 0x02, 0x00, 0x17, 0xF7, 0x01};
constexpr std::size_t kBindValuesAt = 9;  // function, register, count and byte count come before
constexpr std::size_t kBindPayloadLength = kBindLength - kProbeHeadLength;
constexpr std::size_t kBindCrcCovered = 10;
using BindPayload = std::array<std::uint8_t, kBindPayloadLength>;
// The payload (frame bytes 3..14) with the receiver filled in and its CRC bytes as in
// the template; sealBindPayload puts the CRC in.
BindPayload bindPayload(std::int32_t receiver, std::int32_t receiverChannel);
void sealBindPayload(std::span<std::uint8_t> payload, std::uint16_t crc);
std::array<std::uint8_t, kBindLength> bindCommand(std::int32_t probe, std::int32_t probeChannel,
                                                  std::int32_t receiver, std::int32_t receiverChannel);
struct Binding {
    std::uint16_t probe = 0;
    std::uint8_t probeChannel = 0;
    std::uint16_t receiver = 0;
    std::uint8_t receiverChannel = 0;
};
// Empty when the fixed bytes or the CRC are wrong.
std::optional<Binding> parseBindCommand(std::span<const std::uint8_t, kBindLength> frame);

// The receiver box's own parameters, read and written only while its key is held.
// The rate byte holds the serial baud code in its high nibble, the air rate code in
// its low one.
// The box talks at this rate while its key is held, whatever its own rate.
constexpr int kParameterBaud = 9600;
inline constexpr std::array<std::uint8_t, kParameterReadLength> kParameterRead = {0xC1, 0x00, 0x06};
inline constexpr std::array<std::uint8_t, 3> kParameterWriteHead = {0xC0, 0x00, 0x06};
// The reply begins with the bytes of the read command.
inline constexpr std::span<const std::uint8_t> kParameterReplyHead = kParameterRead;
constexpr std::uint8_t kMaxRadioChannel = 50;
struct BoxParameters {
    int address = 0;
    int rateByte = 0;
    int channel = 0;
};
// The address as its quotient by 256 truncated toward zero and its remainder, each cut
// to 8 bits: 0..65535 gives exactly its two bytes, -1 gives 00 FF.
std::array<std::uint8_t, kParameterWriteLength> parameterWrite(std::int32_t address, std::int32_t rateByte,
                                                               std::uint8_t channel);
std::optional<BoxParameters> parseParameterWrite(std::span<const std::uint8_t, kParameterWriteLength> frame);
std::array<std::uint8_t, kParameterReplyLength> parameterReply(std::uint16_t address, std::uint8_t rateByte,
                                                               std::uint8_t channel);
// Empty unless it starts with its head.
std::optional<BoxParameters> parseParameterReply(std::span<const std::uint8_t, kParameterReplyLength> frame);

// Sent on connecting: 0xA55C, low byte first. The box takes it and answers nothing.
inline constexpr std::array<std::uint8_t, kGreetingLength> kConnectGreeting = {0x5C, 0xA5, 0x00, 0x00};

}  // namespace keldrin

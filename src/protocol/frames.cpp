#include "protocol/frames.h"

#include <algorithm>

#include "protocol/crc.h"

namespace keldrin {

namespace {

std::uint8_t low8(std::int32_t v) { return static_cast<std::uint8_t>(v & 0xFF); }
std::uint8_t high8(std::int32_t v) { return static_cast<std::uint8_t>((v >> 8) & 0xFF); }
int word(std::span<const std::uint8_t> f, std::size_t at) { return f[at] * 256 + f[at + 1]; }

// The CRC of frame[from, from + count) into the two bytes after it, low byte first.
void putCrc(std::span<std::uint8_t> frame, std::size_t from, std::size_t count) {
    const std::uint16_t crc = modbusCrc16(frame.subspan(from, count));
    frame[from + count] = low8(crc);
    frame[from + count + 1] = high8(crc);
}

}  // namespace

void putProbeHead(std::span<std::uint8_t> frame, std::int32_t address, std::int32_t channel) {
    frame[0] = high8(address);
    frame[1] = low8(address);
    frame[2] = low8(channel);
}

std::array<std::uint8_t, kPollLength> pollRequest(std::int32_t address, std::int32_t channel) {
    std::array<std::uint8_t, kPollLength> f = kPollTemplate;
    putProbeHead(f, address, channel);
    return f;
}

float readingOf(int signByte, int magnitude) {
    double v = magnitude / 1000.0;
    if (signByte == 0x01) v = -(magnitude / 1000.0);
    if (signByte == 0xFF) v = -(65536 - magnitude) / 1000.0;
    return static_cast<float>(v);
}

std::optional<Measurement> parseMeasurement(std::span<const std::uint8_t, kMeasurementLength> f) {
    if (f[3] != kMeasurementByteCount) return std::nullopt;
    return Measurement{word(f, 0), f[2], readingOf(f[5], word(f, 6))};
}

std::array<std::uint8_t, kMeasurementLength> measurementFrame(std::uint16_t address, std::uint8_t channel,
                                                              std::int32_t thousandths, bool twosComplement) {
    const std::int32_t r = std::clamp<std::int32_t>(thousandths, -65535, 65535);
    std::uint8_t sign = 0x00;
    std::int32_t m = r;
    if (r < 0) {
        sign = twosComplement ? 0xFF : 0x01;
        m = twosComplement ? 65536 + r : -r;
    }
    std::array<std::uint8_t, kMeasurementLength> f = {0, 0, 0, kMeasurementByteCount, 0x00, sign, high8(m), low8(m)};
    putProbeHead(f, address, channel);
    putCrc(f, 3, 7);
    return f;
}

BindPayload bindPayload(std::int32_t receiver, std::int32_t receiverChannel) {
    BindPayload p;
    std::copy(kBindTemplate.begin() + kProbeHeadLength, kBindTemplate.end(), p.begin());
    p[6] = high8(receiver);
    p[7] = low8(receiver);
    p[9] = low8(receiverChannel);  // byte 8, the register's high byte, stays 0
    return p;
}

void sealBindPayload(std::span<std::uint8_t> payload, std::uint16_t crc) {
    payload[kBindCrcCovered] = low8(crc);
    payload[kBindCrcCovered + 1] = high8(crc);
}

std::array<std::uint8_t, kBindLength> bindCommand(std::int32_t probe, std::int32_t probeChannel,
                                                  std::int32_t receiver, std::int32_t receiverChannel) {
    BindPayload payload = bindPayload(receiver, receiverChannel);
    sealBindPayload(payload, modbusCrc16(std::span(payload).first(kBindCrcCovered)));
    std::array<std::uint8_t, kBindLength> f{};
    putProbeHead(f, probe, probeChannel);
    std::copy(payload.begin(), payload.end(), f.begin() + kProbeHeadLength);
    return f;
}

std::optional<Binding> parseBindCommand(std::span<const std::uint8_t, kBindLength> f) {
    // Function, first register, register count and byte count are fixed.
    if (!std::equal(f.begin() + kProbeHeadLength, f.begin() + kBindValuesAt, kBindTemplate.begin() + kProbeHeadLength)) {
        return std::nullopt;
    }
    const std::uint16_t crc = modbusCrc16(f.subspan(kProbeHeadLength, kBindCrcCovered));
    if (f[13] != low8(crc) || f[14] != high8(crc)) return std::nullopt;
    return Binding{static_cast<std::uint16_t>(word(f, 0)), f[2], static_cast<std::uint16_t>(word(f, 9)), f[12]};
}

std::array<std::uint8_t, kParameterWriteLength> parameterWrite(std::int32_t address, std::int32_t rateByte,
                                                               std::uint8_t channel) {
    return {kParameterWriteHead[0],
            kParameterWriteHead[1],
            kParameterWriteHead[2],
            static_cast<std::uint8_t>((address / 256) & 0xFF),
            static_cast<std::uint8_t>((address % 256) & 0xFF),
            low8(rateByte),
            0x00,
            channel,
            0x40};
}

std::optional<BoxParameters> parseParameterWrite(std::span<const std::uint8_t, kParameterWriteLength> f) {
    if (!std::ranges::equal(f.first(kParameterWriteHead.size()), kParameterWriteHead)) return std::nullopt;
    return BoxParameters{word(f, 3), f[5], f[7]};
}

std::array<std::uint8_t, kParameterReplyLength> parameterReply(std::uint16_t address, std::uint8_t rateByte,
                                                               std::uint8_t channel) {
    return {kParameterReplyHead[0], kParameterReplyHead[1], kParameterReplyHead[2], high8(address), low8(address),
            rateByte, 0x00, channel, 0x40};
}

std::optional<BoxParameters> parseParameterReply(std::span<const std::uint8_t, kParameterReplyLength> f) {
    if (!std::ranges::equal(f.first(kParameterReplyHead.size()), kParameterReplyHead)) return std::nullopt;
    return BoxParameters{word(f, 3), f[5], f[7]};
}

}  // namespace keldrin

#include <gtest/gtest.h>

#include <QDateTime>
#include <QTimeZone>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "protocol/crc.h"
#include "common/echo.h"
#include "common/textnum.h"
#include "common/texts.h"

namespace keldrin {
namespace {

TEST(TextToInt, TakesTheLongestNumericPrefixAfterSpacesAndSign) {
    EXPECT_EQ(textToInt("200"), 200);
    EXPECT_EQ(textToInt("  -42  "), -42);
    EXPECT_EQ(textToInt("+7x"), 7);
    EXPECT_EQ(textToInt("12.9"), 12);
    EXPECT_EQ(textToInt("1e3"), 1);
    EXPECT_EQ(textToInt(""), 0);
    EXPECT_EQ(textToInt("-"), 0);
    EXPECT_EQ(textToInt("abc"), 0);
    EXPECT_EQ(textToInt("- 5"), 0);
    EXPECT_EQ(textToInt("\t\n9600\r\n"), 9600);
}

TEST(TextToInt, SaturatesInsteadOfOverflowing) {
    EXPECT_EQ(textToInt("99999999999999999999"), std::numeric_limits<std::int32_t>::max());
    EXPECT_EQ(textToInt("-99999999999999999999"), std::numeric_limits<std::int32_t>::min());
    EXPECT_EQ(textToInt("2147483648"), std::numeric_limits<std::int32_t>::max());
    EXPECT_EQ(textToInt("-2147483648"), std::numeric_limits<std::int32_t>::min());
    EXPECT_EQ(textToInt64("9223372036854775807"), std::numeric_limits<std::int64_t>::max());
    EXPECT_EQ(textToInt64("9223372036854775808"), std::numeric_limits<std::int64_t>::max());
    EXPECT_EQ(textToInt64("-9223372036854775808"), std::numeric_limits<std::int64_t>::min());
    EXPECT_EQ(textToInt64("-9223372036854775809"), std::numeric_limits<std::int64_t>::min());
    EXPECT_EQ(textToInt(std::string(4096, '9')), std::numeric_limits<std::int32_t>::max());
}

TEST(TextToDouble, ReadsDecimalsAndExponentsButNoSpecialForms) {
    EXPECT_DOUBLE_EQ(textToDouble("12.9"), 12.9);
    EXPECT_DOUBLE_EQ(textToDouble(" -0.5kg"), -0.5);
    EXPECT_DOUBLE_EQ(textToDouble(".5"), 0.5);
    EXPECT_DOUBLE_EQ(textToDouble("5."), 5.0);
    EXPECT_DOUBLE_EQ(textToDouble("1e3"), 1000.0);
    EXPECT_DOUBLE_EQ(textToDouble("1e"), 1.0);
    EXPECT_DOUBLE_EQ(textToDouble("1e+"), 1.0);
    EXPECT_EQ(textToDouble("."), 0.0);
    EXPECT_EQ(textToDouble("nan"), 0.0);
    EXPECT_EQ(textToDouble("inf"), 0.0);
    EXPECT_EQ(textToDouble("0x10"), 0.0);
    EXPECT_EQ(textToDouble("1e400"), std::numeric_limits<double>::max());
    EXPECT_EQ(textToDouble("-1e400"), std::numeric_limits<double>::lowest());
    EXPECT_EQ(textToDouble("1e-400"), 0.0);
    EXPECT_TRUE(std::isfinite(textToDouble(std::string(4096, '9'))));
    EXPECT_EQ(textToFloat("1e300"), std::numeric_limits<float>::max());
}

TEST(TextToDouble, TruncationTowardZeroSaturates) {
    EXPECT_EQ(truncToInt(12.9), 12);
    EXPECT_EQ(truncToInt(-12.9), -12);
    EXPECT_EQ(truncToInt(1e300), std::numeric_limits<std::int32_t>::max());
    EXPECT_EQ(truncToInt(-1e300), std::numeric_limits<std::int32_t>::min());
    EXPECT_EQ(truncToInt(std::nan("")), 0);
}

TEST(FrameEcho, UppercaseWithoutLeadingZerosEachFollowedByASpace) {
    std::vector<std::uint8_t> frame = {0x00, 0x01, 0x1C, 0x03, 0xAC, 0xFF};
    EXPECT_EQ(frameEcho(frame), "0 1 1C 3 AC FF ");
    std::string s;
    appendByteEcho(s, 0x0A);
    EXPECT_EQ(s, "A ");
}

TEST(ModbusCrc, MatchesTheFixedCrcsOfTheRequests) {
    std::vector<std::uint8_t> poll = {0x03, 0x00, 0x00, 0x00, 0x03};
    EXPECT_EQ(modbusCrc16(poll), 0x0120);
    std::vector<std::uint8_t> zero = {0x06, 0x00, 0x00, 0x00, 0x00};
    EXPECT_EQ(modbusCrc16(zero), 0x00AC);
    std::vector<std::uint8_t> check = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
    EXPECT_EQ(modbusCrc16(check), 0x4B37);  // the CRC-16/MODBUS check value
}

// The date and time are read by the same form they are written in: a text Qt writes in
// kDateTimeFormat reads back as the same instant, to the millisecond.
TEST(DateTimeText, ReadsBackWhatTheFormatWrites) {
    const std::int64_t instants[] = {0,
                                     86399999,
                                     951782400000,      // 2000-02-29, a leap day of a century
                                     946684799999,      // 1999-12-31 23:59:59.999
                                     1709164800123,     // 2024-02-29 00:00:00.123
                                     1796724000000,     // 2026-12-08 10:00:00
                                     4102444799999};    // 2099-12-31 23:59:59.999
    for (const std::int64_t ms : instants) {
        const QDateTime t = QDateTime::fromMSecsSinceEpoch(ms, QTimeZone::utc());
        const std::string text = t.toString(QString::fromLatin1(kDateTimeFormat)).toStdString();
        EXPECT_EQ(dateTimeMs(text), ms) << text;
        EXPECT_EQ(timeOfDay(text), text.substr(11)) << text;
        EXPECT_EQ(fileStamp(text), t.toString(QStringLiteral("yyyyMMdd_HHmmss")).toStdString()) << text;
    }
    for (const char* bad : {"", "2026-12-08", "2026-13-08 10:00:00", "2026-12-08T10:00:00", "2026-12-08 24:00:00",
                            "2026-12-08 10:00:00.", "2026-12-08 10:00:00.1234", "２０２６-12-08 10:00:00"}) {
        EXPECT_FALSE(dateTimeMs(bad).has_value()) << bad;
    }
    EXPECT_EQ(dateTimeMs("2026-12-08 10:00:00.5"), dateTimeMs("2026-12-08 10:00:00.500"));
}

TEST(ReadingText, ThreeDecimalsAndNoNegativeZero) {
    EXPECT_EQ(readingText(1.0f), "1.000");
    EXPECT_EQ(readingText(-0.001f), "-0.001");
    EXPECT_EQ(readingText(65.535f), "65.535");
    EXPECT_EQ(readingText(-65.536f), "-65.536");
    EXPECT_EQ(readingText(1.234f), "1.234");
    EXPECT_EQ(readingText(0.0), "0.000");
    EXPECT_EQ(readingText(-0.0), "0.000");
    // Every whole thousandth a probe can send survives the float round trip.
    for (int m = -65536; m <= 65535; m += 7) {
        float v = static_cast<float>(static_cast<double>(m) / 1000.0);
        char expect[32];
        std::snprintf(expect, sizeof expect, "%s%d.%03d", m < 0 ? "-" : "", std::abs(m) / 1000,
                      std::abs(m) % 1000);
        ASSERT_EQ(readingText(v), m == 0 ? "0.000" : expect) << m;
    }
}

}  // namespace
}  // namespace keldrin

#include <gtest/gtest.h>

#include "publish/messages.h"
#include "publish/settings.h"

namespace keldrin::publish {
namespace {

TEST(PublishedMessages, ARowReadsBackAsItWasPublishedWithStaleAndOddCellsAsNull) {
    PublishedRow row;
    row.run = "20261210T010203004";
    row.row = 42;
    row.time = "2026-12-10 01:02:03.004";
    row.values = {{"压力 \"A\"\\1", "-12.345"}, {"2", std::nullopt}, {"3", "0.000"}, {"4", "1e5"}, {"5", "nan"},
                  {"6", "007"}, {"换行\n", "3."}};
    const std::string iso = *isoTime(row.time, 8 * 3600);
    EXPECT_EQ(iso, "2026-12-10T01:02:03.004+08:00");
    const std::string json = rowPayload("rig-7", row, iso);
    EXPECT_EQ(json.find("\"row\":42,"), json.find("\"row\""));  // a JSON number
    const std::optional<ReceivedRow> back = parseRowPayload(json);
    ASSERT_TRUE(back) << json;
    EXPECT_EQ(back->rig, "rig-7");
    EXPECT_EQ(back->run, row.run);
    EXPECT_EQ(back->row, 42);
    EXPECT_EQ(back->time, row.time);
    EXPECT_EQ(back->iso, iso);
    const std::vector<std::pair<std::string, std::optional<std::string>>> expected = {
        {"压力 \"A\"\\1", "-12.345"}, {"2", std::nullopt}, {"3", "0.000"}, {"4", std::nullopt},
        {"5", std::nullopt},          {"6", std::nullopt}, {"换行\n", std::nullopt}};
    EXPECT_EQ(back->values, expected);
    EXPECT_EQ(isoToEpochMs(iso), isoToEpochMs("2026-12-09T17:02:03.004Z"));
    EXPECT_EQ(isoTime("2026-12-10 01:02:03.004", -(5 * 3600 + 30 * 60)), "2026-12-10T01:02:03.004-05:30");
}

// What arrives on keldrin/+/rows may come from anyone: all of this is refused.
TEST(PublishedMessages, ARowPayloadThatIsNotExactlyOursIsRefused) {
    const std::string good =
        R"({"rig":"r","run":"x","row":1,"time":"t","iso":"i","values":{"1":1.5,"2":null}})";
    ASSERT_TRUE(parseRowPayload(good));
    const char* const bad[] = {
        "",
        "{",
        "[]",
        R"({"rig":"r","run":"x","row":1,"time":"t","iso":"i"})",                                  // no values
        R"({"rig":"r","run":"x","row":0,"time":"t","iso":"i","values":{}})",                      // row 0
        R"({"rig":"r","run":"x","row":1.5,"time":"t","iso":"i","values":{}})",                    // not whole
        R"({"rig":"r","run":"x","row":1,"time":"t","iso":"i","values":{"1":"5"}})",               // a string value
        R"({"rig":"r","run":"x","row":1,"time":"t","iso":"i","values":{"1":{"a":1}}})",           // nested
        R"({"rig":"r","rig":"s","run":"x","row":1,"time":"t","iso":"i","values":{}})",            // twice
        R"({"rig":"r","run":"x","row":1,"time":"t","iso":"i","values":{},"more":1})",             // unknown key
        R"({"rig":"r","run":"x","row":1,"time":"t","iso":"i","values":{}} trailing)",
        R"({"rig":"r\u0041","run":"x","row":1,"time":"t","iso":"i","values":{}})",                // \u beyond controls
        R"({"rig":"r","run":"x","row":1,"time":"t","iso":"i","values":{"1":1e999}})",             // not finite
        R"({"rig":"r","run":"x","row":99999999999999999999,"time":"t","iso":"i","values":{}})",  // too big
    };
    for (const char* json : bad) EXPECT_FALSE(parseRowPayload(json)) << json;
    EXPECT_FALSE(parseRowPayload(std::string(100000, ' ')));
}

TEST(PublishedMessages, TopicsAndTheSettingsThatMakeThem) {
    EXPECT_EQ(rowsTopic("试验台1"), "keldrin/试验台1/rows");
    EXPECT_EQ(channelTopic("r", 8), "keldrin/r/ch/8");
    EXPECT_EQ(statusTopic("r"), "keldrin/r/status");
    EXPECT_EQ(rigOfRowsTopic("keldrin/r/rows"), "r");
    EXPECT_EQ(rigOfRowsTopic("keldrin/a/b/rows"), std::nullopt);
    EXPECT_EQ(rigOfRowsTopic("keldrin//rows"), std::nullopt);

    Settings s;
    s.enabled = true;
    s.host = "broker.lab";
    s.rig = "rig-1";
    EXPECT_EQ(problemWith(s), std::nullopt);
    struct Case {
        const char* what;
        void (*spoil)(Settings&);
    };
    const Case cases[] = {
        {"no host", [](Settings& x) { x.host.clear(); }},
        {"port 0", [](Settings& x) { x.port = 0; }},
        {"port 65536", [](Settings& x) { x.port = 65536; }},
        {"rig with /", [](Settings& x) { x.rig = "a/b"; }},
        {"rig with #", [](Settings& x) { x.rig = "a#"; }},
        {"empty rig", [](Settings& x) { x.rig.clear(); }},
        {"rig not UTF-8", [](Settings& x) { x.rig = "\xff"; }},
        {"rig with a control", [](Settings& x) { x.rig = "a\nb"; }},
        {"TLS without a CA", [](Settings& x) { x.tls = true; }},
    };
    for (const Case& c : cases) {
        Settings spoilt = s;
        c.spoil(spoilt);
        EXPECT_NE(problemWith(spoilt), std::nullopt) << c.what;
        spoilt.enabled = false;
        EXPECT_EQ(problemWith(spoilt), std::nullopt) << c.what << ": off, nothing to check";
    }
}

}  // namespace
}  // namespace keldrin::publish

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include "platform/publish_settings_file.h"

namespace keldrin::test {
namespace {

// Tools and scripts write 发布.ini too: what they may leave is read or refused, never
// taken half.
TEST(PublishSettingsFile, WhatIsWrittenReadsBackAndABrokenFileLeavesPublishingOff) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("发布.ini"));
    std::optional<std::string> problem;
    EXPECT_FALSE(readPublishSettings(path, problem).enabled);  // no file: off, nothing to say
    EXPECT_EQ(problem, std::nullopt);

    publish::Settings s;
    s.enabled = true;
    s.host = "broker.lab";
    s.port = 8883;
    s.user = "试验室";
    s.password = "p=a;s\"s #1";
    s.rig = "试验台 7";
    std::string why;
    ASSERT_TRUE(writePublishSettings(path, s, &why)) << why;
    const publish::Settings back = readPublishSettings(path, problem);
    EXPECT_EQ(problem, std::nullopt);
    EXPECT_TRUE(back.enabled);
    EXPECT_EQ(back.host, s.host);
    EXPECT_EQ(back.port, 8883);
    EXPECT_EQ(back.user, s.user);
    EXPECT_EQ(back.password, s.password);
    EXPECT_EQ(back.rig, s.rig);

    const std::pair<const char*, std::string> broken[] = {
        {"enabled not a truth", "[mqtt]\nenabled=yes\nhost=h\n"},
        {"port not a number", "[mqtt]\nenabled=true\nhost=h\nport=abc\n"},
        {"no host", "[mqtt]\nenabled=true\n"},
        {"rig with a wildcard", "[mqtt]\nenabled=true\nhost=h\nrig=a/#\n"},
        {"TLS without a readable CA", "[mqtt]\nenabled=true\nhost=h\ntls=true\nca=/no/such/ca.pem\n"},
        {"not a settings file at all", std::string(100 * 1024, '\xff')},
    };
    for (const auto& [what, text] : broken) {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(text.data(), static_cast<qint64>(text.size()));
        f.close();
        EXPECT_FALSE(readPublishSettings(path, problem).enabled) << what;
        EXPECT_NE(problem, std::nullopt) << what;
    }
}

}  // namespace
}  // namespace keldrin::test

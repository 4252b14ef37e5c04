#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "platform/outbox.h"

namespace keldrin::test {
namespace {

std::string message(std::uint64_t n) { return "row " + std::to_string(n); }

// What a kill leaves is taken up again: acknowledged messages are gone, the rest come
// in order, and a message torn by a power cut is cut off rather than sent.
TEST(Outbox, AReopenedQueueGoesOnWhereItStoodAndCutsATornMessage) {
    QTemporaryDir dir;
    const QString folder = dir.filePath(QStringLiteral("发布队列"));
    {
        Outbox box(folder);
        ASSERT_TRUE(box.open(nullptr));
        for (std::uint64_t n = 1; n <= 10; ++n) ASSERT_TRUE(box.append(message(n)));
        for (std::uint64_t n = 1; n <= 6; ++n) {
            ASSERT_EQ(box.peek()->payload, message(n));
            box.take();
        }
        for (std::uint64_t n : {2, 1, 4, 6}) box.acknowledge(n);  // 3 and 5 are still out
        EXPECT_EQ(box.queued(), 6u);
    }
    const QStringList segments = QDir(folder).entryList({QStringLiteral("*.q")});
    ASSERT_EQ(segments.size(), 1);
    QFile last(folder + "/" + segments[0]);
    ASSERT_TRUE(last.open(QIODevice::Append));
    last.write("\x20\x00\x00\x00torn", 8);
    last.close();

    Outbox box(folder);
    ASSERT_TRUE(box.open(nullptr));
    EXPECT_EQ(box.queued(), 8u);  // 3..10: what was out but not acknowledged goes again
    ASSERT_TRUE(box.append(message(11)));
    std::vector<std::string> sent;
    while (const auto m = box.peek()) {
        sent.push_back(m->payload);
        box.take();
        box.acknowledge(m->seq);
    }
    const std::vector<std::string> expected = {message(3), message(4), message(5),  message(6), message(7),
                                               message(8), message(9), message(10), message(11)};
    EXPECT_EQ(sent, expected);
    EXPECT_EQ(box.queued(), 0u);
    EXPECT_EQ(box.dropped(), 0u);
}

TEST(Outbox, AFullQueueDropsItsOldestSegmentAndCountsWhatWasNotSent) {
    QTemporaryDir dir;
    constexpr std::uint64_t kSegment = Outbox::kSegmentMessages;
    Outbox box(dir.filePath(QStringLiteral("q")), 2 * kSegment);
    ASSERT_TRUE(box.open(nullptr));
    for (std::uint64_t n = 1; n <= 2 * kSegment; ++n) ASSERT_TRUE(box.append(message(n)));
    box.peek();
    box.take();
    box.acknowledge(1);  // one of the oldest segment was sent
    EXPECT_EQ(box.dropped(), 0u);
    for (std::uint64_t n = 2 * kSegment + 1; n <= 2 * kSegment + 2; ++n) ASSERT_TRUE(box.append(message(n)));
    EXPECT_EQ(box.dropped(), kSegment - 1);
    EXPECT_EQ(box.queued(), kSegment + 2);
    EXPECT_EQ(box.peek()->payload, message(kSegment + 1));
    EXPECT_EQ(QDir(dir.filePath(QStringLiteral("q"))).entryList({QStringLiteral("*.q")}).size(), 2);

    // Taken up again, as at the next start, without reading the full segment.
    Outbox again(dir.filePath(QStringLiteral("q")), 2 * kSegment);
    ASSERT_TRUE(again.open(nullptr));
    EXPECT_EQ(again.queued(), kSegment + 2);
    EXPECT_EQ(again.peek()->payload, message(kSegment + 1));
}

}  // namespace
}  // namespace keldrin::test

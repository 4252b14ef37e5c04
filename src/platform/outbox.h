#pragma once
// The rows the broker has not yet acknowledged, on disk beside the journal, so that they
// wait out an outage and survive a kill of the program: a folder of segment files of
// kSegmentMessages messages each, named by the sequence number of their first, and a
// file holding the highest number up to which every message was acknowledged.
//
// Each message is written and flushed to the system before append() returns, and is
// handed out by next() in the order appended. Bounded: past the capacity, the oldest
// segment is dropped and its unacknowledged messages counted. A torn message at the end
// of the last segment (a power cut mid-write) is cut off when the folder is opened.
#include <QFile>
#include <QString>
#include <cstdint>
#include <deque>
#include <optional>
#include <set>
#include <string>
#include <string_view>

namespace keldrin {

class Outbox {
public:
    static constexpr std::uint64_t kSegmentMessages = 4096;
    // A week of rows at "0.1秒".
    static constexpr std::uint64_t kWeekAtTenthSecond = 7ULL * 24 * 3600 * 10;

    Outbox(QString folder, std::uint64_t capacity = kWeekAtTenthSecond);
    Outbox(const Outbox&) = delete;
    Outbox& operator=(const Outbox&) = delete;

    // Opens the folder, making it when missing, and takes up what is in it. False with
    // why when it cannot be used.
    bool open(std::string* why);

    // Appends a message; false when the disk refused it.
    bool append(std::string_view payload);

    struct Message {
        std::uint64_t seq = 0;
        std::string payload;
    };
    // The next message not yet handed out, without handing it out; nothing when every
    // message has been.
    std::optional<Message> peek();
    // Hands out the message peek() gave.
    void take();
    // The broker has message seq.
    void acknowledge(std::uint64_t seq);

    // Appended and not yet acknowledged.
    std::uint64_t queued() const { return next_ - 1 - acked_ - ackedAbove_.size(); }
    // Dropped, unacknowledged, because the queue was full; since open().
    std::uint64_t dropped() const { return dropped_; }
    // Bytes of the segment files.
    std::uint64_t bytes() const { return bytes_; }

private:
    struct Segment {
        std::uint64_t first = 0;  // the sequence number of its first message
        std::uint64_t count = 0;
        std::uint64_t bytes = 0;
    };
    QString segmentPath(std::uint64_t first) const;
    // Counts the whole messages of the last segment and cuts off a torn one.
    bool scanLast(Segment& s);
    void dropOldest();
    void saveAcked();
    void removeAcknowledgedSegments();

    QString folder_;
    std::uint64_t capacity_;
    std::deque<Segment> segments_;
    std::uint64_t next_ = 1;   // the number the next message gets
    std::uint64_t acked_ = 0;  // every message up to this one was acknowledged
    std::set<std::uint64_t> ackedAbove_;  // acknowledged out of order
    std::uint64_t dropped_ = 0;
    std::uint64_t bytes_ = 0;
    QFile writer_;
    QFile ackFile_;
    // Where next() reads: the message's number and its offset in its segment.
    std::uint64_t readSeq_ = 1;
    qint64 readOffset_ = 0;
    QFile reader_;
    std::uint64_t readerFirst_ = 0;  // the segment reader_ has open
    // The newest messages appended, so that a broker that keeps up is sent each row
    // without reading it back from the disk.
    static constexpr std::size_t kRecent = 2048;
    std::deque<std::string> recent_;  // the last of them is number next_ - 1
    bool peekedRecent_ = false;
};

}  // namespace keldrin

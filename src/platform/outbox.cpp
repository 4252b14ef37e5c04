#include "platform/outbox.h"

#include <QDir>
#include <QFileInfo>
#include <algorithm>
#include <charconv>
#include <zlib.h>

#include "common/messages.h"

namespace keldrin {

namespace {

constexpr qint64 kHeaderBytes = 8;  // the payload's length and CRC-32, little-endian
constexpr std::uint32_t kLongestPayload = 1024 * 1024;
const QString kSuffix = QStringLiteral(".q");
const QString kAckName = QStringLiteral("acknowledged");

std::uint32_t le32(const char* p) {
    return static_cast<std::uint32_t>(static_cast<unsigned char>(p[0])) |
           static_cast<std::uint32_t>(static_cast<unsigned char>(p[1])) << 8 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(p[2])) << 16 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(p[3])) << 24;
}

void putLe32(std::string& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out += static_cast<char>((v >> (8 * i)) & 0xff);
}

std::uint32_t crcOf(std::string_view s) {
    return static_cast<std::uint32_t>(
        crc32(crc32(0L, Z_NULL, 0), reinterpret_cast<const Bytef*>(s.data()), static_cast<uInt>(s.size())));
}

std::optional<std::uint64_t> number(std::string_view text) {
    std::uint64_t v = 0;
    const auto r = std::from_chars(text.data(), text.data() + text.size(), v);
    if (text.empty() || r.ec != std::errc() || r.ptr != text.data() + text.size()) return std::nullopt;
    return v;
}

// The message at the file's position: its payload, or nothing when what is there is
// not a whole message.
std::optional<std::string> readMessage(QFile& f) {
    char header[kHeaderBytes];
    if (f.read(header, kHeaderBytes) != kHeaderBytes) return std::nullopt;
    const std::uint32_t length = le32(header);
    if (length > kLongestPayload) return std::nullopt;
    std::string payload(length, '\0');
    if (f.read(payload.data(), length) != static_cast<qint64>(length)) return std::nullopt;
    if (crcOf(payload) != le32(header + 4)) return std::nullopt;
    return payload;
}

}  // namespace

Outbox::Outbox(QString folder, std::uint64_t capacity)
    : folder_(std::move(folder)), capacity_(std::max(capacity, 2 * kSegmentMessages)) {}

QString Outbox::segmentPath(std::uint64_t first) const {
    return folder_ + QLatin1Char('/') + QStringLiteral("%1").arg(first, 20, 10, QLatin1Char('0')) + kSuffix;
}

bool Outbox::scanLast(Segment& s) {
    QFile f(segmentPath(s.first));
    if (!f.open(QIODevice::ReadOnly)) return false;
    qint64 good = 0;
    while (s.count < kSegmentMessages && readMessage(f)) {
        ++s.count;
        good = f.pos();
    }
    s.bytes = static_cast<std::uint64_t>(good);
    f.close();
    // A message cut short by a power cut: appends go on after the last whole one.
    if (f.size() > good) f.resize(good);
    return true;
}

bool Outbox::open(std::string* why) {
    if (!QDir().mkpath(folder_)) {
        if (why) *why = msg::publishFolderUnmade(folder_.toStdString());
        return false;
    }
    QDir dir(folder_);
    std::vector<std::uint64_t> firsts;
    for (const QString& name : dir.entryList({QStringLiteral("*") + kSuffix}, QDir::Files)) {
        if (const auto n = number(name.chopped(kSuffix.size()).toStdString()); n && *n > 0) firsts.push_back(*n);
    }
    std::sort(firsts.begin(), firsts.end());
    // A full week's queue is read only as it is sent: a segment before the last holds
    // every number up to the next one's first (a segment is full before the next
    // begins), and only the last, where a power cut may have torn a message, is read
    // now. A segment that cannot be read where it is sent is counted as dropped then.
    for (std::size_t i = 0; i < firsts.size(); ++i) {
        Segment s{firsts[i], 0, 0};
        if (i + 1 < firsts.size()) {
            s.count = std::min(firsts[i + 1] - firsts[i], kSegmentMessages);
            s.bytes = static_cast<std::uint64_t>(QFileInfo(segmentPath(s.first)).size());
        } else if (!scanLast(s)) {
            continue;
        }
        segments_.push_back(s);
        bytes_ += s.bytes;
    }
    if (!segments_.empty()) next_ = segments_.back().first + segments_.back().count;

    ackFile_.setFileName(folder_ + QLatin1Char('/') + kAckName);
    if (!ackFile_.open(QIODevice::ReadWrite)) {
        if (why) *why = msg::publishFileUnopened(ackFile_.fileName().toStdString());
        return false;
    }
    const QByteArray saved = ackFile_.readAll().trimmed();
    acked_ = number(std::string_view(saved.constData(), static_cast<std::size_t>(saved.size()))).value_or(0);
    if (!segments_.empty()) acked_ = std::max(acked_, segments_.front().first - 1);
    acked_ = std::min(acked_, next_ - 1);
    readSeq_ = acked_ + 1;
    removeAcknowledgedSegments();
    return true;
}

bool Outbox::append(std::string_view payload) {
    if (payload.size() > kLongestPayload) return false;
    if (!writer_.isOpen() || segments_.empty() || segments_.back().count >= kSegmentMessages) {
        writer_.close();
        if (segments_.empty() || segments_.back().count >= kSegmentMessages) {
            segments_.push_back({next_, 0, 0});
        }
        writer_.setFileName(segmentPath(segments_.back().first));
        if (!writer_.open(QIODevice::WriteOnly | QIODevice::Append)) {
            if (segments_.back().count == 0) segments_.pop_back();
            return false;
        }
    }
    std::string record;
    record.reserve(static_cast<std::size_t>(kHeaderBytes) + payload.size());
    putLe32(record, static_cast<std::uint32_t>(payload.size()));
    putLe32(record, crcOf(payload));
    record += payload;
    Segment& s = segments_.back();
    const qint64 before = static_cast<qint64>(s.bytes);
    if (writer_.write(record.data(), static_cast<qint64>(record.size())) != static_cast<qint64>(record.size()) ||
        !writer_.flush()) {
        // Nothing half-written stays: the next message starts where this one did.
        writer_.close();
        QFile::resize(segmentPath(s.first), before);
        return false;
    }
    ++s.count;
    s.bytes += record.size();
    bytes_ += record.size();
    recent_.emplace_back(payload);
    if (recent_.size() > kRecent) recent_.pop_front();
    ++next_;
    if (queued() > capacity_) dropOldest();
    return true;
}

std::optional<Outbox::Message> Outbox::peek() {
    peekedRecent_ = false;
    if (const std::uint64_t recentFirst = next_ - recent_.size(); readSeq_ < next_ && readSeq_ >= recentFirst) {
        peekedRecent_ = true;
        return Message{readSeq_, recent_[static_cast<std::size_t>(readSeq_ - recentFirst)]};
    }
    while (readSeq_ < next_) {
        auto at = std::find_if(segments_.begin(), segments_.end(),
                               [&](const Segment& s) { return readSeq_ < s.first + s.count; });
        if (at == segments_.end()) return std::nullopt;
        if (readSeq_ < at->first) readSeq_ = at->first;
        if (readerFirst_ != at->first || !reader_.isOpen()) {
            reader_.close();
            reader_.setFileName(segmentPath(at->first));
            readerFirst_ = at->first;
            readOffset_ = 0;
            if (!reader_.open(QIODevice::ReadOnly)) {
                readerFirst_ = 0;
                return std::nullopt;
            }
            for (std::uint64_t seq = at->first; seq < readSeq_; ++seq) {
                if (!readMessage(reader_)) break;
            }
            readOffset_ = reader_.pos();
        }
        reader_.seek(readOffset_);
        if (std::optional<std::string> payload = readMessage(reader_)) return Message{readSeq_, std::move(*payload)};
        // The rest of this segment cannot be read: its messages are lost, and said to be.
        const std::uint64_t end = at->first + at->count;
        for (std::uint64_t seq = readSeq_; seq < end; ++seq) {
            ++dropped_;
            acknowledge(seq);
        }
        readSeq_ = end;
        reader_.close();
    }
    return std::nullopt;
}

void Outbox::take() {
    if (readSeq_ >= next_) return;
    ++readSeq_;
    if (peekedRecent_) {
        reader_.close();  // it no longer stands where the next message is
    } else {
        readOffset_ = reader_.pos();
    }
}

void Outbox::acknowledge(std::uint64_t seq) {
    if (seq <= acked_ || seq >= next_) return;
    ackedAbove_.insert(seq);
    const std::uint64_t before = acked_;
    while (!ackedAbove_.empty() && *ackedAbove_.begin() == acked_ + 1) {
        ackedAbove_.erase(ackedAbove_.begin());
        ++acked_;
    }
    if (acked_ == before) return;
    saveAcked();
    removeAcknowledgedSegments();
}

void Outbox::saveAcked() {
    // One write of a fixed width over the last: a kill never leaves half a number.
    const QByteArray text = QByteArray::number(static_cast<qulonglong>(acked_)).rightJustified(20, '0') + '\n';
    ackFile_.seek(0);
    ackFile_.write(text);
    ackFile_.flush();
}

void Outbox::removeAcknowledgedSegments() {
    while (!segments_.empty()) {
        const Segment& s = segments_.front();
        const bool full = s.count >= kSegmentMessages || segments_.size() > 1;
        if (s.count == 0 || !full || s.first + s.count - 1 > acked_) break;
        if (writer_.isOpen() && writer_.fileName() == segmentPath(s.first)) writer_.close();
        if (reader_.isOpen() && readerFirst_ == s.first) reader_.close();
        QFile::remove(segmentPath(s.first));
        bytes_ -= s.bytes;
        segments_.pop_front();
    }
    // Numbers no segment holds (a file removed by hand) are nothing to wait for.
    if (!segments_.empty() && acked_ + 1 < segments_.front().first) {
        acked_ = segments_.front().first - 1;
        ackedAbove_.erase(ackedAbove_.begin(), ackedAbove_.upper_bound(acked_));
    }
}

void Outbox::dropOldest() {
    if (segments_.size() < 2) return;
    const Segment s = segments_.front();
    const std::uint64_t last = s.first + s.count - 1;
    for (std::uint64_t seq = std::max(acked_ + 1, s.first); seq <= last; ++seq) {
        if (!ackedAbove_.count(seq)) ++dropped_;
    }
    ackedAbove_.erase(ackedAbove_.begin(), ackedAbove_.upper_bound(last));
    acked_ = std::max(acked_, last);
    if (readSeq_ <= last) {
        readSeq_ = last + 1;
        reader_.close();
    }
    saveAcked();
    removeAcknowledgedSegments();
}

}  // namespace keldrin

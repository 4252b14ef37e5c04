#include "collector.h"

#include <QDir>
#include <QFileInfo>
#include <cstdio>

#include "common/channels.h"
#include "publish/messages.h"

namespace keldrin::collect {

namespace {

// InfluxDB's line protocol: tag values and field keys escape commas, equals signs and
// spaces; string field values escape quotes and backslashes.
std::string escapeKey(const std::string& s) {
    std::string out;
    for (const char c : s) {
        if (c == ',' || c == '=' || c == ' ' || c == '\\') out += '\\';
        if (c == '\n' || c == '\r') {
            out += ' ';
            continue;
        }
        out += c;
    }
    return out;
}

std::string quoted(const std::string& s) {
    std::string out = "\"";
    for (const char c : s) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    return out + "\"";
}

}  // namespace

std::string fileNamePart(const std::string& rig) {
    std::string out;
    for (const char c : rig) {
        const auto u = static_cast<unsigned char>(c);
        out += (u < 0x20 || std::string_view("\\/:*?\"<>|").find(c) != std::string_view::npos) ? '_' : c;
    }
    if (out == "." || out == "..") out = "_";
    return out;
}

std::optional<std::string> influxLine(const std::string& rig, const std::string& run, std::int64_t row,
                                      const std::string& iso,
                                      const std::vector<std::pair<std::string, std::optional<std::string>>>& values) {
    const std::optional<std::int64_t> ms = publish::isoToEpochMs(iso);
    if (!ms) return std::nullopt;
    std::string line = "keldrin,rig=" + escapeKey(rig) + " ";
    for (const auto& [heading, value] : values) {
        if (!value) continue;  // a gap: no field
        line += escapeKey(heading) + "=" + *value + ",";
    }
    line += "run=" + quoted(run) + ",row=" + std::to_string(row) + "i " + std::to_string(*ms);
    return line;
}

Collector::Collector(QString dir, std::optional<Influx> influx) : dir_(std::move(dir)), influx_(std::move(influx)) {}

QString Collector::statePath(const char* name) const { return dir_ + "/.keldrin-collect/" + name; }

bool Collector::appendLine(QFile& f, const std::string& line) {
    return f.write(line.data(), static_cast<qint64>(line.size())) == static_cast<qint64>(line.size()) && f.flush();
}

bool Collector::open(std::string* why) {
    if (!QDir().mkpath(dir_ + "/.keldrin-collect")) {
        *why = "cannot make " + dir_.toStdString() + "/.keldrin-collect";
        return false;
    }
    if (!gbk_.available()) {
        *why = "this system has no GBK converter";
        return false;
    }
    // One line per row written: rig, run and row, tab-separated. Rows of a run come in
    // order, so the highest of each run is all that is needed.
    seenFile_.setFileName(statePath("written"));
    if (!seenFile_.open(QIODevice::ReadWrite | QIODevice::Append)) {
        *why = "cannot open " + seenFile_.fileName().toStdString();
        return false;
    }
    seenFile_.seek(0);
    while (!seenFile_.atEnd()) {
        const QList<QByteArray> parts = seenFile_.readLine().trimmed().split('\t');
        if (parts.size() != 3) continue;  // a line cut by a crash
        bool ok = false;
        const std::int64_t row = parts[2].toLongLong(&ok);
        if (!ok) continue;
        std::int64_t& high = seen_[{parts[0].toStdString(), parts[1].toStdString()}];
        high = std::max(high, row);
    }
    seenFile_.seek(seenFile_.size());
    if (influx_) {
        spool_.setFileName(statePath("influx-spool.lp"));
        if (!spool_.open(QIODevice::ReadWrite | QIODevice::Append)) {
            *why = "cannot open " + spool_.fileName().toStdString();
            return false;
        }
        QFile sent(statePath("influx-sent"));
        if (sent.open(QIODevice::ReadOnly)) spoolSent_ = std::clamp<qint64>(sent.readAll().trimmed().toLongLong(), 0, spool_.size());
    }
    return true;
}

void Collector::take(const std::string& topic, const std::string& payload) {
    std::lock_guard lock(mutex_);
    const std::optional<std::string> rig = publish::rigOfRowsTopic(topic);
    const std::optional<publish::ReceivedRow> r = publish::parseRowPayload(payload);
    if (!rig || !r || r->rig != *rig || r->time.size() < 10 || r->run.find_first_of("\t\r\n") != std::string::npos ||
        rig->find_first_of("\t\r\n") != std::string::npos) {
        ++refused_;
        std::fprintf(stderr, "keldrin-collect: not a row, dropped (topic %s)\n", topic.c_str());
        return;
    }
    std::int64_t& high = seen_[{*rig, r->run}];
    if (r->row <= high) {
        ++duplicates_;  // QoS 1 redelivers what it was not sure of
        return;
    }

    const QString name = dir_ + "/" + QString::fromStdString(fileNamePart(*rig) + "_" + r->time.substr(0, 10) + ".csv");
    QFile csv(name);
    if (!csv.open(QIODevice::WriteOnly | QIODevice::Append)) {
        std::fprintf(stderr, "keldrin-collect: cannot write %s\n", name.toLocal8Bit().constData());
        return;
    }
    std::string text;
    auto cell = [&](std::string_view utf8) {
        gbk_.append(text, utf8);
        text += ',';
    };
    if (csv.size() == 0) {
        cell("时间");
        for (std::size_t i = 0; i < static_cast<std::size_t>(kChannels); ++i) {
            cell(i < r->values.size() ? std::string_view(r->values[i].first) : std::string_view());
        }
        text += "\r\n";
    }
    cell(r->time);
    for (std::size_t i = 0; i < static_cast<std::size_t>(kChannels); ++i) {
        cell(i < r->values.size() && r->values[i].second ? std::string_view(*r->values[i].second) : std::string_view());
    }
    text += "\r\n";
    if (!appendLine(csv, text)) {
        std::fprintf(stderr, "keldrin-collect: cannot write %s\n", name.toLocal8Bit().constData());
        return;
    }
    // Written down only once the file has the row: a crash between the two writes the
    // row again at redelivery, never loses it.
    appendLine(seenFile_, *rig + "\t" + r->run + "\t" + std::to_string(r->row) + "\n");
    high = r->row;
    ++written_;
    if (influx_) {
        if (const std::optional<std::string> line = influxLine(*rig, r->run, r->row, r->iso, r->values)) {
            appendLine(spool_, *line + "\n");
        }
    }
}

bool Collector::flushInflux() {
    if (!influx_) return true;
    // In pieces of about a mebibyte, from where the last accepted piece ended: a spool
    // that grew over a long outage drains without being read whole.
    constexpr qint64 kPiece = 1 << 20;
    for (;;) {
        std::string lines;
        {
            std::lock_guard lock(mutex_);
            if (spoolSent_ >= spool_.size()) {
                spool_.resize(0);  // all taken: start afresh
                spoolSent_ = 0;
                saveSpoolSent();
                return true;
            }
            spool_.seek(spoolSent_);
            const QByteArray piece = spool_.read(kPiece);
            spool_.seek(spool_.size());
            const qsizetype end = piece.lastIndexOf('\n');
            if (end < 0) return true;  // a line still being written
            lines.assign(piece.constData(), static_cast<std::size_t>(end + 1));
        }
        const HttpReply reply = httpRequest(influx_->target, "POST",
                                            "/write?db=" + urlEncode(influx_->database) + "&precision=ms", lines);
        if (reply.status / 100 == 4) {
            // The database will never take these: kept aside for a person to look at.
            QFile rejected(statePath("influx-rejected.lp"));
            if (rejected.open(QIODevice::WriteOnly | QIODevice::Append)) rejected.write(lines.data(), static_cast<qint64>(lines.size()));
            std::fprintf(stderr, "keldrin-collect: InfluxDB refused %zu bytes of points (%d: %s), kept in %s\n",
                         lines.size(), reply.status, reply.body.substr(0, 200).c_str(),
                         rejected.fileName().toLocal8Bit().constData());
        } else if (reply.status / 100 != 2) {
            // Kept and sent again: a point written twice is the same point.
            std::fprintf(stderr, "keldrin-collect: InfluxDB write failed (%d %s), kept for the next try\n",
                         reply.status, reply.error.c_str());
            return false;
        }
        std::lock_guard lock(mutex_);
        spoolSent_ += static_cast<qint64>(lines.size());
        saveSpoolSent();
    }
}

void Collector::saveSpoolSent() {
    QFile f(statePath("influx-sent"));
    if (f.open(QIODevice::WriteOnly | QIODevice::Truncate)) f.write(QByteArray::number(spoolSent_));
}

}  // namespace keldrin::collect

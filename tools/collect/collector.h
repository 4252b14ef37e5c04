#pragma once
// What keldrin-collect does with each row it receives: one CSV file per rig and day in
// the program's export layout (GBK, a heading line, nine cells with a comma each, CR LF),
// never a row twice, even across its own restarts; and, when asked, the same row as a
// point for InfluxDB, kept in a spool file until the database has taken it.
#include <QFile>
#include <QString>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>

#include "http.h"
#include "platform/gbk.h"

namespace keldrin::collect {

struct Influx {
    HttpTarget target;
    std::string database;
};

class Collector {
public:
    Collector(QString dir, std::optional<Influx> influx);
    // Reads what earlier runs wrote down: the rows already in the files.
    bool open(std::string* why);
    // A message from keldrin/<rig>/rows. Anything that is not a row of ours is counted
    // and dropped. Safe from any thread.
    void take(const std::string& topic, const std::string& payload);
    // Sends the spool to InfluxDB; true when it is empty afterwards.
    bool flushInflux();

    std::uint64_t rowsWritten() const { return written_; }
    std::uint64_t duplicates() const { return duplicates_; }
    std::uint64_t refused() const { return refused_; }

private:
    QString statePath(const char* name) const;
    bool appendLine(QFile& f, const std::string& line);

    QString dir_;
    std::optional<Influx> influx_;
    SystemGbk gbk_;
    std::mutex mutex_;
    std::map<std::pair<std::string, std::string>, std::int64_t> seen_;  // (rig, run) → the highest row written
    QFile seenFile_;
    QFile spool_;
    qint64 spoolSent_ = 0;  // the spool's bytes InfluxDB has taken
    void saveSpoolSent();
    std::uint64_t written_ = 0, duplicates_ = 0, refused_ = 0;
};

// The InfluxDB line of a row: measurement keldrin, tag rig, one field per heading with a
// number, and run and row; nothing when the row has no time.
std::optional<std::string> influxLine(const std::string& rig, const std::string& run, std::int64_t row,
                                      const std::string& iso,
                                      const std::vector<std::pair<std::string, std::optional<std::string>>>& values);

// A rig's name as part of a file name: what Windows or POSIX would refuse becomes '_'.
std::string fileNamePart(const std::string& rig);

}  // namespace keldrin::collect

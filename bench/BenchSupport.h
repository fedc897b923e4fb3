#pragma once
// Small helpers for the benchmark: deterministic prose, statistics, clocks, memory, and the
// table/JSON report.

#include <QJsonArray>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>
#include <vector>

namespace bench {

qint64 nowNs();
// Varied English sentences, always the same for the same size (UTF-16 units).
QString prose(qsizetype size);
// Resident set size and its peak, in KiB, from /proc/self/status.
qint64 rssKiB();
qint64 peakRssKiB();

struct Stats {
    double median = 0, min = 0, max = 0;
    int runs = 0;
};
Stats stats(std::vector<double> values);

// One line of the report: a figure, its anchor measured in the same run, and how they compare.
struct Row {
    QString name;
    QString unit;
    std::optional<Stats> ours; // none: not measurable yet (the note says why)
    QString anchorName;
    std::optional<Stats> anchor;
    QString target;
    QString note;
};

class Report {
public:
    void add(Row row);
    void print() const;
    bool writeJson(const QString &path) const;

private:
    std::vector<Row> m_rows;
};

// Runs `program args` and returns the time (ms) until `bytes` bytes arrived on its stdout, or
// nothing if it ended first. The process is killed afterwards.
std::optional<double> timeToStdoutBytes(const QString &program, const QStringList &args,
                                        qint64 bytes);
// Runs a command to completion; wall time in ms, or nothing if it failed.
std::optional<double> timeCommand(const QString &program, const QStringList &args);

} // namespace bench

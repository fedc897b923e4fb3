#include "BenchSupport.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTextStream>

#include <algorithm>
#include <chrono>
#include <cstdio>

namespace bench {

qint64 nowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

QString prose(qsizetype size) {
    static const char *subjects[] = {
        "The old keeper",      "A quiet river", "Every morning the baker", "The small committee",
        "Her younger brother", "A long train",  "The city library",        "Our neighbour"};
    static const char *verbs[] = {"watched",  "carried", "remembered", "painted",
                                  "followed", "counted", "described",  "repaired"};
    static const char *objects[] = {"the boats in the harbour",    "three baskets of apples",
                                    "the letters from the north",  "a map of the valley",
                                    "the bells of the old church", "twelve wooden chairs",
                                    "the stories of the war",      "a garden full of roses"};
    static const char *tails[] = {"before the rain came",    "while the children slept",
                                  "on the second of May",    "for almost 25 years",
                                  "with great care",         "until the lamps were lit",
                                  "as the wind turned cold", "without saying a word"};
    QString out;
    out.reserve(size + 200);
    quint32 state = 12345;
    auto pick = [&state](int n) {
        state = state * 1664525u + 1013904223u;
        return int((state >> 16) % quint32(n));
    };
    int sentences = 0;
    while (out.size() < size) {
        out += QLatin1String(subjects[pick(8)]) + u' ' + QLatin1String(verbs[pick(8)]) + u' ' +
               QLatin1String(objects[pick(8)]) + u' ' + QLatin1String(tails[pick(8)]) +
               QLatin1String(pick(5) == 0 ? "! " : ". ");
        if (++sentences % 6 == 0)
            out += QLatin1String("\r\n");
    }
    out.truncate(size);
    return out;
}

namespace {
qint64 statusKiB(const char *key) {
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray prefix(key);
    for (const QByteArray &line : f.readAll().split('\n')) {
        if (line.startsWith(prefix))
            return line.mid(prefix.size()).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}
} // namespace

qint64 rssKiB() {
    return statusKiB("VmRSS:");
}
qint64 peakRssKiB() {
    return statusKiB("VmHWM:");
}

Stats stats(std::vector<double> values) {
    Stats s;
    if (values.empty())
        return s;
    std::sort(values.begin(), values.end());
    s.runs = int(values.size());
    s.min = values.front();
    s.max = values.back();
    const std::size_t mid = values.size() / 2;
    s.median = values.size() % 2 ? values[mid] : (values[mid - 1] + values[mid]) / 2;
    return s;
}

void Report::add(Row row) {
    std::printf("  measured: %s\n", qPrintable(row.name));
    std::fflush(stdout);
    m_rows.push_back(std::move(row));
}

namespace {
QString fmt(const std::optional<Stats> &s) {
    if (!s)
        return QStringLiteral("n/a");
    if (s->runs <= 1)
        return QString::number(s->median, 'g', 4);
    return QStringLiteral("%1 [%2..%3]")
        .arg(QString::number(s->median, 'g', 4), QString::number(s->min, 'g', 3),
             QString::number(s->max, 'g', 3));
}
QJsonValue json(const std::optional<Stats> &s) {
    if (!s)
        return QJsonValue::Null;
    return QJsonObject{{"median", s->median}, {"min", s->min}, {"max", s->max}, {"runs", s->runs}};
}
} // namespace

void Report::print() const {
    QTextStream out(stdout);
    out << Qt::left << qSetFieldWidth(44) << "figure" << qSetFieldWidth(26) << "ours"
        << qSetFieldWidth(40) << "anchor" << qSetFieldWidth(8) << "ratio" << qSetFieldWidth(0)
        << "target\n";
    for (const Row &r : m_rows) {
        const QString ratio = r.ours && r.anchor && r.anchor->median != 0
                                  ? QString::number(r.ours->median / r.anchor->median, 'f', 2)
                                  : QStringLiteral("-");
        out << qSetFieldWidth(44) << (r.name + " (" + r.unit + ")") << qSetFieldWidth(26)
            << fmt(r.ours) << qSetFieldWidth(40) << (r.anchorName + ": " + fmt(r.anchor))
            << qSetFieldWidth(8) << ratio << qSetFieldWidth(0) << r.target << '\n';
        if (!r.note.isEmpty())
            out << "    " << r.note << '\n';
    }
}

bool Report::writeJson(const QString &path) const {
    QJsonArray rows;
    for (const Row &r : m_rows) {
        QJsonObject o{{"figure", r.name},
                      {"unit", r.unit},
                      {"ours", json(r.ours)},
                      {"anchor", r.anchorName},
                      {"anchorValue", json(r.anchor)},
                      {"target", r.target},
                      {"note", r.note}};
        if (r.ours && r.anchor && r.anchor->median != 0)
            o.insert("ratio", r.ours->median / r.anchor->median);
        rows.append(o);
    }
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    f.write(QJsonDocument(QJsonObject{{"figures", rows}}).toJson());
    return true;
}

std::optional<double> timeToStdoutBytes(const QString &program, const QStringList &args,
                                        qint64 bytes) {
    QProcess p;
    p.setProcessChannelMode(QProcess::SeparateChannels);
    p.setStandardErrorFile(QProcess::nullDevice());
    const qint64 start = nowNs();
    p.start(program, args);
    if (!p.waitForStarted(5000))
        return std::nullopt;
    qint64 got = 0;
    while (got < bytes) {
        if (!p.waitForReadyRead(30000))
            break;
        got += p.readAllStandardOutput().size();
    }
    const qint64 end = nowNs();
    p.kill();
    p.waitForFinished(5000);
    if (got < bytes)
        return std::nullopt;
    return double(end - start) / 1e6;
}

std::optional<double> timeCommand(const QString &program, const QStringList &args) {
    QProcess p;
    p.setStandardOutputFile(QProcess::nullDevice());
    p.setStandardErrorFile(QProcess::nullDevice());
    const qint64 start = nowNs();
    p.start(program, args);
    if (!p.waitForStarted(5000) || !p.waitForFinished(-1) || p.exitCode() != 0)
        return std::nullopt;
    return double(nowNs() - start) / 1e6;
}

} // namespace bench

#pragma once
// Documents of every format the reader opens, made from the same prose, for timing extraction
// against other programs that read the same files.

#include <QString>
#include <QStringList>

namespace bench {

// Paragraphs of prose() adding up to about `bytes` of text.
QStringList paragraphs(qsizetype bytes);

// Each writes `paragraphs` to `path` in its format; false if the file could not be written.
bool writePdf(const QString &path, const QStringList &paragraphs, int pages);
bool writeDocx(const QString &path, const QStringList &paragraphs);
bool writeOdt(const QString &path, const QStringList &paragraphs);
bool writeEpub(const QString &path, const QStringList &paragraphs);
bool writeHtml(const QString &path, const QStringList &paragraphs);
bool writeMarkdown(const QString &path, const QStringList &paragraphs);
bool writeRtf(const QString &path, const QStringList &paragraphs);
bool writeFb2(const QString &path, const QStringList &paragraphs);

} // namespace bench

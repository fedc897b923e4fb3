#pragma once
// Where the window finds its helper programs (the speech worker, the document reader): next to
// itself in a build folder, and in the program's libexec folder once installed, where they are
// off PATH because nobody runs them by hand. An environment variable names another one.

#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QString>

// The libexec folder seen from the installed program's folder; set by the build.
#ifndef PARLIVO_HELPERS_FROM_BIN
#define PARLIVO_HELPERS_FROM_BIN "../libexec/parlivo"
#endif

inline QString helperProgram(const char *environmentVariable, const QString &name) {
    const QByteArray fromEnv = qgetenv(environmentVariable);
    if (!fromEnv.isEmpty())
        return QString::fromLocal8Bit(fromEnv);
    const QString dir = QCoreApplication::applicationDirPath();
    const QString beside = dir + u'/' + name;
    if (QFileInfo::exists(beside))
        return beside;
    return QDir::cleanPath(dir + QStringLiteral("/" PARLIVO_HELPERS_FROM_BIN "/") + name);
}

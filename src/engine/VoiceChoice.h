#pragma once
// Which voice reads the text: one the user chose, or the automatic choice, which reads each
// paragraph in the voice of its own language and is what every window starts with.

#include <QLocale>
#include <QString>

#include <string>

namespace speech {

inline const QString kAutomaticVoice = QStringLiteral("auto");

// The voice for a locale's language ("espeak:pt-br"), falling back to English.
QString defaultVoiceFor(const QLocale &locale);

// The voice as the synthesis worker is asked for it: the automatic choice carries the locale's
// voice, for text whose language cannot be told and for the locale's own language.
std::string workerVoice(const QString &id);

// "French" for "fr": the name of a language told from the text, in English like the rest of
// the window; empty for none.
QString languageName(const QString &code);

} // namespace speech

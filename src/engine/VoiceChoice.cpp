#include "VoiceChoice.h"

#include "Protocol.h"

namespace speech {

QString defaultVoiceFor(const QLocale &locale) {
    if (locale.language() == QLocale::C || locale.language() == QLocale::AnyLanguage)
        return QStringLiteral("espeak:en");
    // "pt_BR" -> "pt-br"; the worker falls back to "pt" and then to English.
    return QStringLiteral("espeak:") + locale.name().toLower().replace(u'_', u'-');
}

std::string workerVoice(const QString &id) {
    if (id == kAutomaticVoice)
        return std::string(parlivo::proto::kAutomaticPrefix) +
               defaultVoiceFor(QLocale::system()).toStdString();
    return id.toStdString();
}

QString languageName(const QString &code) {
    if (code.isEmpty())
        return {};
    const QLocale::Language language = QLocale(code).language();
    if (language == QLocale::C || language == QLocale::AnyLanguage)
        return code;
    return QLocale::languageToString(language);
}

} // namespace speech

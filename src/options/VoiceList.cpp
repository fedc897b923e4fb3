#include "VoiceList.h"

#include "VoiceChoice.h"

#include <algorithm>

namespace options {

QList<speech::Voice> sortedVoices(QList<speech::Voice> voices) {
    std::stable_sort(voices.begin(), voices.end(), [](const auto &a, const auto &b) {
        const bool aEspeak = a.engine == QLatin1String("espeak-ng");
        const bool bEspeak = b.engine == QLatin1String("espeak-ng");
        if (aEspeak != bEspeak)
            return aEspeak;
        return QString::localeAwareCompare(voiceLabel(a), voiceLabel(b)) < 0;
    });
    return voices;
}

QString voiceLabel(const speech::Voice &voice) {
    QString name = voice.name;
    name.replace(u'_', u' ');
    return QStringLiteral("%1 [%2] - %3").arg(name, voice.language, voice.engine);
}

QString automaticLabel(const QString &language) {
    if (language.isEmpty())
        return QStringLiteral("Automatic (by the text's language)");
    return QStringLiteral("Automatic (%1)").arg(speech::languageName(language));
}

int indexOfVoice(const QList<speech::Voice> &voices, const QString &id) {
    for (int i = 0; i < voices.size(); ++i) {
        if (voices[i].id == id)
            return i;
    }
    const QString prefix = id + u'-';
    for (int i = 0; i < voices.size(); ++i) {
        if (voices[i].id.startsWith(prefix))
            return i;
    }
    return -1;
}

} // namespace options

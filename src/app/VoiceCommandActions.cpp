#include "VoiceCommandActions.h"

#include "Engine.h"
#include "ErrorBox.h"
#include "Form1.h"
#include "PlaybackControls.h"

#include <QAction>
#include <QPushButton>
#include <QStringList>

namespace app {

using voicecommands::Command;

bool performVoiceCommand(Form1 &window, Command command) {
    switch (command) {
    case Command::Read:
        window.Command1->click();
        return true;
    case Command::Pause:
    case Command::Resume: {
        // Only what the pause button offers: "pause" while paused does nothing.
        if (window.isPausedByUser() != (command == Command::Resume))
            return false;
        window.Command2->click();
        return true;
    }
    case Command::Stop:
        window.Command3->click();
        return true;
    case Command::Faster:
    case Command::Slower:
        ui::runGuarded(&window, [&window, command] {
            speech::Engine &talker = window.talker();
            talker.setSpeed(
                voicecommands::steppedSpeed(talker.speed(), command == Command::Faster));
        });
        return true;
    case Command::OpenDocument:
        window.mnuItemOpenDocument->trigger();
        return true;
    case Command::SaveDocument:
        window.mnuItemSaveDocument->trigger();
        return true;
    case Command::Export:
        window.mnuItemExporttoWav->trigger();
        return true;
    case Command::Copy:
        window.mnuItemCopy->trigger();
        return true;
    case Command::Paste:
        window.mnuItemPaste->trigger();
        return true;
    case Command::Options:
        window.mnuItemOption->trigger();
        return true;
    case Command::ReadMode:
        window.Command5->click();
        return true;
    }
    return false;
}

namespace {
QString text(std::string_view phrase) {
    return QString::fromLatin1(phrase.data(), static_cast<qsizetype>(phrase.size()));
}
} // namespace

QString heardCaption(Command command) {
    return QObject::tr("Heard: %1").arg(text(voicecommands::phraseOf(command)));
}

QString commandList() {
    QStringList phrases;
    for (const voicecommands::CommandPhrase &phrase : voicecommands::commandPhrases())
        phrases << text(phrase.words);
    return phrases.join(QLatin1String(", "));
}

QString speechStoppedCaption(const QString &description) {
    QString why = description;
    if (!why.isEmpty())
        why[0] = why[0].toLower();
    while (why.endsWith(u'.'))
        why.chop(1);
    return QObject::tr("Speech stopped: %1.").arg(why);
}

} // namespace app

#include "VoiceCommandActions.h"

#include "ErrorBox.h"
#include "Form1.h"
#include "PlaybackControls.h"
#include "SpeechEngine.h"

#include <QAction>
#include <QPushButton>

namespace app {

using voicecommands::Command;

bool performVoiceCommand(Form1 &window, Command command) {
    switch (command) {
    case Command::Read:
        window.Command1->click();
        return true;
    case Command::Pause:
    case Command::Resume: {
        const QString offered =
            command == Command::Pause ? speech::kPauseCaption : speech::kResumeCaption;
        if (window.Command2->text() != offered)
            return false;
        window.Command2->click();
        return true;
    }
    case Command::Stop:
        window.Command3->click();
        return true;
    case Command::Faster:
    case Command::Slower:
        runGuarded(&window, [&window, command] {
            speech::SpeechEngine &talker = window.talker();
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

QString heardCaption(Command command) {
    const std::string_view phrase = voicecommands::phraseOf(command);
    return QObject::tr("Heard: %1")
        .arg(QString::fromLatin1(phrase.data(), static_cast<qsizetype>(phrase.size())));
}

} // namespace app

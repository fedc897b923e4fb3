#pragma once
// The main window: the text area, the playback buttons, the menus and the one speech engine.

#include "Engine.h"

#include <QElapsedTimer>
#include <QMainWindow>

#include <memory>

class QAction;
class QFileDialog;
class QLabel;
class QMenu;
class QPlainTextEdit;
class QPushButton;
class QTimer;
class DocumentText;

namespace mpris {
class MediaControls;
}
namespace readmode {
class ReadMode;
}
namespace voicecommands {
class VoiceCommandInput;
}

class Form1 : public QMainWindow {
    Q_OBJECT
public:
    // `talker` empty: the real engine. Window tests that are not about speech give a fake.
    explicit Form1(std::unique_ptr<speech::Engine> talker = {}, QWidget *parent = nullptr);
    ~Form1() override;

    speech::Engine &talker() { return *Talker; }
    // The user paused speech (the pause button offers "RES"); a pause of our own while "Give
    // Command" listens does not count.
    bool isPausedByUser() const { return Talker->isPaused() && !m_pausedForVoiceCommand; }
    DocumentText &document() { return *m_document; }
    readmode::ReadMode &readMode() { return *m_readMode; }
    // On the session bus a moment after the window is made, when there is a bus.
    mpris::MediaControls &mediaControls() { return *m_mediaControls; }

    // What the media keys and the desktop's media controls do, through the buttons' own
    // handlers. play(): resumes when paused, and speaks the whole text when nothing is read.
    void play();
    // Pauses or resumes while reading, and plays otherwise.
    void playPause();
    // Pauses when reading and not paused already.
    void pauseReading();
    // While reading: on to the next sentence, or back to the start of the one being heard (a
    // second time within a second: to the one before). Paused speech stays paused there.
    void nextSentence();
    void previousSentence();
    // Some speech of the document (not a test sentence) is being read or waits behind the
    // pause.
    bool isReading() const;
    // The text being read, as the engine was given it; empty when nothing is.
    QString readingText() const;

    // Controls, named as everywhere else in the program.
    QPlainTextEdit *Text1 = nullptr;
    QPushButton *Command1 = nullptr; // ">"
    QPushButton *Command2 = nullptr; // "||" / "RES"
    QPushButton *Command3 = nullptr; // "ST"
    QPushButton *Command4 = nullptr; // "Give Command"
    QPushButton *Command5 = nullptr; // "Read Mode"
    // The status line: what "Give Command" is doing and what it heard, and why speech stopped
    // when it failed while speaking.
    QLabel *lblCommandStatus = nullptr;
    QMenu *mnuItemFile = nullptr;
    QAction *mnuItemOpenDocument = nullptr;
    QAction *mnuItemSaveDocument = nullptr;
    QAction *mnuItemExporttoWav = nullptr;
    QAction *mnuItemExit = nullptr;
    QMenu *mnuItemEdit = nullptr;
    QAction *mnuItemCopy = nullptr;
    QAction *mnuItemPaste = nullptr;
    QAction *mnuItemOption = nullptr;
    // The one file dialog, shared by Open and Save; it carries no settings of its own.
    QFileDialog *CommonDialog1 = nullptr;

protected:
    bool event(QEvent *event) override;

private slots:
    void onCommand1Clicked();
    void onCommand2Clicked();
    void onCommand3Clicked();
    void onCommand4Clicked();
    void onCommand5Clicked();
    void onMnuItemOpenDocumentClicked();
    void onMnuItemSaveDocumentClicked();
    void onMnuItemExporttoWavClicked();
    void onMnuItemExitClicked();
    void onMnuItemCopyClicked();
    void onMnuItemPasteClicked();
    void onMnuItemOptionClicked();
    void onVoiceCommandHeard(int command, const QString &words);
    void onVoiceCommandFailed(const QString &reason);
    void onTalkerErrorOccurred(const speech::EngineError &error);

private:
    void createControls(QWidget *client);
    void createMenus();
    void resumeAfterVoiceCommand();
    // How long a status stays: until replaced, a few seconds, or (a failure of speech) until
    // the next ">".
    enum class StatusLasts { UntilReplaced, AFewSeconds, UntilNextSpeak };
    // `aboutSpeech`: the line only says what speech is doing, which the next such news may
    // replace (tellOfSpeech); other news (a voice command's result) stays until it goes.
    void showStatus(const QString &text, StatusLasts lasts, bool aboutSpeech = false);
    void tellOfSpeech(const QString &news);
    void createShortcuts();
    void createMediaControls();
    // The pause button's accessible name and toggle state, from its caption.
    void showPauseState();
    void announceSpeech();

    std::unique_ptr<speech::Engine> Talker;
    std::unique_ptr<DocumentText> m_document;
    readmode::ReadMode *m_readMode = nullptr;        // owned by Text1
    mpris::MediaControls *m_mediaControls = nullptr; // a child of the window
    // Made on the first "Give Command"; a child of the window.
    voicecommands::VoiceCommandInput *m_voiceInput = nullptr;
    bool m_pausedForVoiceCommand = false;
    QTimer *m_statusTimer = nullptr;
    bool m_statusUntilNextSpeak = false;
    bool m_statusIsSpeech = false;
    bool m_announcedSpeaking = false; // "Reading" was said, and its end is still to be said
    bool m_stopping = false;          // inside the stop button's handler
    QString m_heardLanguage;          // the last language the automatic voice read in
    // The document's request being heard (not a test sentence's), for moves by sentence.
    speech::SpeechRequest m_reading;
    QElapsedTimer m_sincePrevious; // since the last "previous sentence"
};

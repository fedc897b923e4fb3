#include "Form1.h"

#include "Accessibility.h"
#include "ClipboardActions.h"
#include "DocumentFiles.h"
#include "DocumentText.h"
#include "ErrorBox.h"
#include "ExportDialog.h"
#include "MediaControls.h"
#include "Placement.h"
#include "PlaybackControls.h"
#include "ReadMode.h"
#include "SpeechEngine.h"
#include "VoiceChoice.h"
#include "VoiceCommandActions.h"
#include "VoiceCommandInput.h"
#include "frmOptions.h"

#include <QFileDialog>
#include <QLabel>
#include <QLayout>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScopeGuard>
#include <QShortcut>
#include <QTimer>

#include <functional>

namespace {
// How long the result of a spoken command stays on the status line.
constexpr int kPassingStatusMs = 4000;

// Function keys: no text editing uses them, and screen readers take theirs only with their own
// modifier. F5 to F7 also start, pause and stop in other reading and playing programs.
constexpr Qt::Key kSpeakAllKey = Qt::Key_F5;
constexpr Qt::Key kPauseKey = Qt::Key_F6;
constexpr Qt::Key kStopKey = Qt::Key_F7;
constexpr Qt::Key kReadModeKey = Qt::Key_F8;
constexpr Qt::Key kGiveCommandKey = Qt::Key_F9;
// Just left of F5, back before forward as on a player.
constexpr Qt::Key kPreviousSentenceKey = Qt::Key_F3;
constexpr Qt::Key kNextSentenceKey = Qt::Key_F4;
// A second "previous" within this time goes one sentence further back, as a player's does.
constexpr qint64 kPreviousAgainMs = 1000;

QString keyName(Qt::Key key) {
    return QKeySequence(key).toString(QKeySequence::NativeText);
}
} // namespace

using ui::makeButton;
using ui::twips;

Form1::Form1(std::unique_ptr<speech::Engine> talker, QWidget *parent)
    : QMainWindow(parent)
    , Talker(talker ? std::move(talker) : std::make_unique<speech::SpeechEngine>()) {
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Dunmere Software - Parlivo"));
    setAttribute(Qt::WA_DeleteOnClose);
    Talker->setObjectName(QStringLiteral("Talker"));

    auto *client = new QWidget(this);
    client->setFixedSize(twips(0, 0, 4680, 3750).size());
    setCentralWidget(client);
    createControls(client);
    createMenus();
    createMediaControls();
    CommonDialog1 = new QFileDialog(this);
    CommonDialog1->setObjectName(QStringLiteral("CommonDialog1"));
    // The layout is fixed: the window keeps the size of its client area plus the menu bar.
    layout()->setSizeConstraint(QLayout::SetFixedSize);
}

Form1::~Form1() = default;

bool Form1::event(QEvent *event) {
    // A modal dialog or box of ours has closed. A window manager gives the keyboard back to the
    // window that is usable again; without one (a bare X session) nothing does, and every key
    // would go nowhere until the user clicked the window.
    if (event->type() == QEvent::WindowUnblocked)
        activateWindow();
    return QMainWindow::event(event);
}

void Form1::createControls(QWidget *client) {
    Text1 = new DocumentEdit(client);
    Text1->setObjectName(QStringLiteral("Text1"));
    Text1->setGeometry(twips(120, 120, 3015, 2415));
    QFont font(QStringLiteral("Times New Roman"));
    font.setPointSizeF(14.25);
    font.setWeight(QFont::Normal);
    Text1->setFont(font);
    Text1->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    Text1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Text1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    Text1->setTabChangesFocus(true);
    m_document = std::make_unique<DocumentText>(*Text1);

    Command1 = makeButton(client, "Command1", QStringLiteral(">"), twips(2280, 2520, 255, 495));
    Command2 = makeButton(client, "Command2", speech::kPauseCaption, twips(1320, 2520, 375, 495));
    Command3 = makeButton(client, "Command3", QStringLiteral("ST"), twips(1800, 2520, 375, 495));
    Command4 = makeButton(client, "Command4", QStringLiteral("Give Command"),
                          twips(1320, 3120, 1215, 495));
    Command5 =
        makeButton(client, "Command5", QStringLiteral("Read Mode"), twips(2640, 3120, 1215, 495));

    // Right of the text, where nothing else is: unobtrusive, and never in the way of a button.
    lblCommandStatus = new QLabel(client);
    lblCommandStatus->setObjectName(QStringLiteral("lblCommandStatus"));
    lblCommandStatus->setGeometry(216, 8, 96, 152);
    lblCommandStatus->setWordWrap(true);
    lblCommandStatus->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    lblCommandStatus->setAccessibleName(tr("Status"));
    ui::announce(*lblCommandStatus, QString());
    m_statusTimer = new QTimer(this);
    m_statusTimer->setSingleShot(true);
    m_statusTimer->setInterval(kPassingStatusMs);
    connect(m_statusTimer, &QTimer::timeout, lblCommandStatus, &QLabel::clear);

    const QString commands = tr("Listens for one spoken command: %1.").arg(app::commandList());
    // As rich text, which a tooltip wraps; plain text would run off the screen in one line.
    Command4->setToolTip(
        QStringLiteral("<p>%1 (%2)</p>").arg(commands.toHtmlEscaped(), keyName(kGiveCommandKey)));
    Command4->setAccessibleDescription(commands);
    createShortcuts();

    // Tab order: the text, then ">", "||", "ST" (not the row's left-to-right order), then the rest.
    setTabOrder(Text1, Command1);
    setTabOrder(Command1, Command2);
    setTabOrder(Command2, Command3);
    setTabOrder(Command3, Command4);
    setTabOrder(Command4, Command5);

    m_readMode =
        new readmode::ReadMode(*Text1, *Command5, *Talker,
                               {[this] { onCommand2Clicked(); }, [this] { onCommand3Clicked(); },
                                [this] {
                                    return m_document->text();
                                }});

    connect(Talker.get(), &speech::Engine::errorOccurred, this, &Form1::onTalkerErrorOccurred);
    connect(Talker.get(), &speech::Engine::stateChanged, this, &Form1::announceSpeech);
    connect(Talker.get(), &speech::Engine::speechStarted, this,
            [this](const speech::SpeechRequest &request) {
                if (!request.preview)
                    m_reading = request;
                if (!request.preview && !m_announcedSpeaking)
                    m_heardLanguage.clear();
                if (request.preview || std::exchange(m_announcedSpeaking, true))
                    return;
                tellOfSpeech(tr("Reading"));
            });
    // The automatic voice changes with the text's language: the change is said, so that a
    // listener knows why the voice sounds different. The first language heard is not news.
    connect(Talker.get(), &speech::Engine::languageChanged, this, [this](const QString &language) {
        if (language.isEmpty())
            return;
        if (!m_heardLanguage.isEmpty() && language != m_heardLanguage && m_announcedSpeaking)
            tellOfSpeech(tr("Reading %1").arg(speech::languageName(language)));
        m_heardLanguage = language;
    });
    connect(Command1, &QPushButton::clicked, this, &Form1::onCommand1Clicked);
    connect(Command2, &QPushButton::clicked, this, &Form1::onCommand2Clicked);
    connect(Command3, &QPushButton::clicked, this, &Form1::onCommand3Clicked);
    connect(Command4, &QPushButton::clicked, this, &Form1::onCommand4Clicked);
    connect(Command5, &QPushButton::clicked, this, &Form1::onCommand5Clicked);
}

void Form1::createShortcuts() {
    // Each key clicks its button, so it does exactly what the button does, and the pause
    // button's caption stays the one record of whether the user paused.
    ui::setShortcut(*Command1, kSpeakAllKey);
    ui::setShortcut(*Command2, kPauseKey);
    ui::setShortcut(*Command3, kStopKey);
    ui::setShortcut(*Command4, kGiveCommandKey);
    ui::setShortcut(*Command5, kReadModeKey);
    Command1->setAccessibleName(tr("Speak all"));
    Command3->setAccessibleName(tr("Stop"));
    Command1->setToolTip(tr("Speak all (%1)").arg(keyName(kSpeakAllKey)));
    Command2->setToolTip(tr("Pause or resume (%1)").arg(keyName(kPauseKey)));
    Command3->setToolTip(tr("Stop (%1)").arg(keyName(kStopKey)));
    Command5->setToolTip(tr("Read Mode (%1)").arg(keyName(kReadModeKey)));
    showPauseState();
    Text1->setAccessibleName(tr("Document text"));
    Text1->setAccessibleDescription(
        tr("The text to read aloud. %1 speaks all of it, %2 pauses or resumes, %3 stops, %4 "
           "turns Read Mode on or off, %5 gives a spoken command. While reading, %6 goes back "
           "a sentence and %7 on to the next.")
            .arg(keyName(kSpeakAllKey), keyName(kPauseKey), keyName(kStopKey),
                 keyName(kReadModeKey), keyName(kGiveCommandKey), keyName(kPreviousSentenceKey),
                 keyName(kNextSentenceKey)));

    // Media keys, while the window is active: play/pause speaks the whole text when nothing is
    // being read, and otherwise pauses or resumes.
    const auto onKey = [this](Qt::Key key, void (Form1::*handler)()) {
        auto *shortcut = new QShortcut(QKeySequence(key), this);
        connect(shortcut, &QShortcut::activated, this, handler);
    };
    onKey(Qt::Key_MediaPlay, &Form1::playPause);
    onKey(Qt::Key_MediaTogglePlayPause, &Form1::playPause);
    onKey(Qt::Key_MediaPause, &Form1::pauseReading);
    onKey(Qt::Key_MediaStop, &Form1::onCommand3Clicked);
    onKey(kPreviousSentenceKey, &Form1::previousSentence);
    onKey(kNextSentenceKey, &Form1::nextSentence);
    onKey(Qt::Key_MediaPrevious, &Form1::previousSentence);
    onKey(Qt::Key_MediaNext, &Form1::nextSentence);
}

void Form1::createMediaControls() {
    mpris::Player player;
    player.play = std::bind_front(&Form1::play, this);
    player.pause = std::bind_front(&Form1::pauseReading, this);
    player.playPause = std::bind_front(&Form1::playPause, this);
    player.stop = std::bind_front(&Form1::onCommand3Clicked, this);
    player.next = std::bind_front(&Form1::nextSentence, this);
    player.previous = std::bind_front(&Form1::previousSentence, this);
    player.raise = [this] {
        showNormal();
        raise();
        activateWindow();
    };
    player.readingText = std::bind_front(&Form1::readingText, this);
    m_mediaControls = new mpris::MediaControls(*Talker, std::move(player), this);
    // After the window is up: talking to the bus is not worth a later first frame.
    QTimer::singleShot(0, m_mediaControls, &mpris::MediaControls::registerOnBus);
}

void Form1::play() {
    if (Command2->text() != speech::kPauseCaption)
        Command2->click();
    if (!Talker->isSpeaking())
        Command1->click();
}

void Form1::playPause() {
    if (Talker->isSpeaking())
        Command2->click();
    else
        play();
}

void Form1::pauseReading() {
    if (Talker->isSpeaking() && Command2->text() == speech::kPauseCaption)
        Command2->click();
}

bool Form1::isReading() const {
    // A test sentence from Options has a session of its own; the document's comes back after it.
    return Talker->isSpeaking() && Talker->speechSession() == m_reading.session;
}

QString Form1::readingText() const {
    return isReading() ? m_reading.text : QString();
}

void Form1::nextSentence() {
    if (!isReading())
        return;
    ui::runGuarded(
        this, [this] { speech::moveBySentence(*Talker, m_reading, speech::SentenceMove::Next); });
}

void Form1::previousSentence() {
    if (!isReading())
        return;
    const bool again = m_sincePrevious.isValid() && m_sincePrevious.elapsed() < kPreviousAgainMs;
    m_sincePrevious.start();
    ui::runGuarded(this, [this, again] {
        speech::moveBySentence(*Talker, m_reading,
                               again ? speech::SentenceMove::Back : speech::SentenceMove::Restart);
    });
}

void Form1::showPauseState() {
    // A button's setText() replaces its shortcut with the caption's mnemonic (none here).
    Command2->setShortcut(kPauseKey);
    const bool paused = Command2->text() != speech::kPauseCaption;
    Command2->setAccessibleName(paused ? tr("Resume") : tr("Pause"));
    ui::setAccessibleToggle(*Command2, paused);
}

void Form1::announceSpeech() {
    // Said once when the document starts being read and once when it ends; a test sentence
    // from Options is not the document. A stop says so itself (onCommand3Clicked), a failure
    // too (onTalkerErrorOccurred), and the end is told a moment later, so that the failure
    // that ended it comes first.
    if (m_stopping || Talker->isSpeaking() || !std::exchange(m_announcedSpeaking, false))
        return;
    QTimer::singleShot(0, this, [this] {
        if (m_announcedSpeaking || m_statusUntilNextSpeak)
            return; // speaking again, or a failure is on the line
        tellOfSpeech(tr("End of text"));
    });
}

void Form1::createMenus() {
    auto addItem = [this](QMenu *menu, const char *name, const QString &caption,
                          void (Form1::*handler)()) {
        QAction *action = menu->addAction(caption);
        action->setObjectName(QLatin1String(name));
        connect(action, &QAction::triggered, this, handler);
        return action;
    };
    mnuItemFile = menuBar()->addMenu(QStringLiteral("&File"));
    mnuItemFile->setObjectName(QStringLiteral("mnuItemFile"));
    mnuItemOpenDocument =
        addItem(mnuItemFile, "mnuItemOpenDocument", QStringLiteral("&Open Document"),
                &Form1::onMnuItemOpenDocumentClicked);
    mnuItemSaveDocument =
        addItem(mnuItemFile, "mnuItemSaveDocument", QStringLiteral("&Save Document"),
                &Form1::onMnuItemSaveDocumentClicked);
    mnuItemExporttoWav =
        addItem(mnuItemFile, "mnuItemExporttoWav", QStringLiteral("Export to &Wav"),
                &Form1::onMnuItemExporttoWavClicked);
    mnuItemExit =
        addItem(mnuItemFile, "mnuItemExit", QStringLiteral("&Exit"), &Form1::onMnuItemExitClicked);

    mnuItemEdit = menuBar()->addMenu(QStringLiteral("E&dit"));
    mnuItemEdit->setObjectName(QStringLiteral("mnuItemEdit"));
    mnuItemCopy =
        addItem(mnuItemEdit, "mnuItemCopy", QStringLiteral("&Copy"), &Form1::onMnuItemCopyClicked);
    mnuItemPaste = addItem(mnuItemEdit, "mnuItemPaste", QStringLiteral("&Paste"),
                           &Form1::onMnuItemPasteClicked);
    mnuItemOption = addItem(mnuItemEdit, "mnuItemOption", QStringLiteral("&Options"),
                            &Form1::onMnuItemOptionClicked);
}

void Form1::onCommand1Clicked() {
    if (m_statusUntilNextSpeak)
        showStatus(QString(), StatusLasts::UntilReplaced);
    speech::speakWholeText(*Talker, m_document->text());
}

void Form1::onCommand2Clicked() {
    ui::runGuarded(this, [this] {
        Command2->setText(speech::togglePause(*Talker, Command2->text()));
        showPauseState();
        // Said through the status line: with the focus in the text, as after the key, a screen
        // reader says nothing of a button that changed.
        tellOfSpeech(Command2->text() == speech::kPauseCaption ? tr("Resumed") : tr("Paused"));
        // The user's own pause (or resume) replaces the one "Give Command" holds.
        m_pausedForVoiceCommand = false;
    });
}

void Form1::onCommand3Clicked() {
    ui::runGuarded(this, [this] {
        m_stopping = true;
        const auto done = qScopeGuard([this] { m_stopping = false; });
        speech::stopSpeaking(*Talker);
        // Also while paused, when the engine's state stays "paused" and says nothing.
        if (!Talker->isSpeaking() && std::exchange(m_announcedSpeaking, false))
            tellOfSpeech(tr("Stopped"));
    });
}

void Form1::onCommand4Clicked() {
    if (!m_voiceInput) {
        m_voiceInput = new voicecommands::VoiceCommandInput(this);
        connect(m_voiceInput, &voicecommands::VoiceCommandInput::listening, this, [this] {
            showStatus(tr("Listening... Say: %1").arg(app::commandList()),
                       StatusLasts::UntilReplaced);
        });
        connect(m_voiceInput, &voicecommands::VoiceCommandInput::heard, this,
                &Form1::onVoiceCommandHeard);
        connect(m_voiceInput, &voicecommands::VoiceCommandInput::nothingHeard, this, [this] {
            showStatus(tr("Nothing heard"), StatusLasts::AFewSeconds);
            resumeAfterVoiceCommand();
        });
        connect(m_voiceInput, &voicecommands::VoiceCommandInput::failed, this,
                &Form1::onVoiceCommandFailed);
    }
    if (m_voiceInput->isBusy())
        return;
    // Our own speech must not be taken for the command; it comes back afterwards.
    m_pausedForVoiceCommand = Talker->state() == speech::Engine::State::Speaking;
    if (m_pausedForVoiceCommand)
        Talker->pause();
    showStatus(tr("Getting ready..."), StatusLasts::UntilReplaced);
    m_voiceInput->listen();
}

void Form1::onVoiceCommandHeard(int command, const QString &words) {
    Q_UNUSED(words)
    if (command < 0) {
        showStatus(tr("Command not understood"), StatusLasts::AFewSeconds);
        resumeAfterVoiceCommand();
        return;
    }
    const auto heard = static_cast<voicecommands::Command>(command);
    showStatus(app::heardCaption(heard), StatusLasts::AFewSeconds);
    // Pause and stop act on the speech we held back, so it is brought back after them (unless
    // they changed it); anything else, a dialog above all, finds the speech going again.
    const bool quietsSpeech =
        heard == voicecommands::Command::Pause || heard == voicecommands::Command::Stop;
    if (!quietsSpeech)
        resumeAfterVoiceCommand();
    app::performVoiceCommand(*this, heard);
    if (quietsSpeech)
        resumeAfterVoiceCommand();
}

void Form1::onVoiceCommandFailed(const QString &reason) {
    showStatus(QString(), StatusLasts::UntilReplaced);
    resumeAfterVoiceCommand();
    QMessageBox::warning(this, parlivo::kAppTitle, reason);
}

void Form1::onTalkerErrorOccurred(const speech::EngineError &error) {
    // ">" shows no box for its failures, but speech that stops by itself must not look like
    // speech that ended: say why, where it stays until the next ">".
    showStatus(app::speechStoppedCaption(error.description()), StatusLasts::UntilNextSpeak);
}

void Form1::showStatus(const QString &text, StatusLasts lasts, bool aboutSpeech) {
    // Screen readers say every status as it appears, without the focus leaving the text.
    ui::announce(*lblCommandStatus, text);
    m_statusIsSpeech = aboutSpeech;
    m_statusUntilNextSpeak = lasts == StatusLasts::UntilNextSpeak;
    if (lasts == StatusLasts::AFewSeconds)
        m_statusTimer->start();
    else
        m_statusTimer->stop();
}

void Form1::tellOfSpeech(const QString &news) {
    // A voice command's result stays: what it did is heard anyway.
    if (m_statusIsSpeech || lblCommandStatus->text().isEmpty())
        showStatus(news, StatusLasts::AFewSeconds, true);
}

void Form1::resumeAfterVoiceCommand() {
    // Only if we paused it and the user has not paused or resumed since.
    if (std::exchange(m_pausedForVoiceCommand, false))
        ui::runGuarded(this, [this] { Talker->resume(); });
}

void Form1::onCommand5Clicked() {
    m_readMode->setOn(Command5->isChecked());
}

void Form1::onMnuItemOpenDocumentClicked() {
    documents::openDocument(this, *CommonDialog1, *m_document);
}

void Form1::onMnuItemSaveDocumentClicked() {
    documents::saveDocument(this, *CommonDialog1, *m_document);
}

void Form1::onMnuItemExporttoWavClicked() {
    ui::runGuarded(this,
                   [this] { audioexport::exportDocument(this, m_document->text(), *Talker); });
}

void Form1::onMnuItemExitClicked() {
    ui::runGuarded(this, [this] { close(); });
}

void Form1::onMnuItemCopyClicked() {
    ui::runGuarded(this, [this] { clipboard::copySelection(*m_document); });
}

void Form1::onMnuItemPasteClicked() {
    ui::runGuarded(this, [this] { clipboard::pasteAtEnd(*m_document); });
}

void Form1::onMnuItemOptionClicked() {
    ui::runGuarded(this, [this] {
        // A fresh dialog each time, with no owner: it starts from its design values and blocks
        // the whole application while it is open.
        frmOptions dialog([this]() -> speech::Engine & { return *Talker; });
        dialog.setWindowModality(Qt::ApplicationModal);
        dialog.exec();
    });
}

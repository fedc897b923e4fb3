#include "Form1.h"

#include "ClipboardActions.h"
#include "DocumentFiles.h"
#include "DocumentText.h"
#include "ErrorBox.h"
#include "ExportDialog.h"
#include "Placement.h"
#include "PlaybackControls.h"
#include "ReadMode.h"
#include "SpeechEngine.h"
#include "VoiceCommandActions.h"
#include "VoiceCommandInput.h"
#include "frmOptions.h"

#include <QAccessible>
#include <QFileDialog>
#include <QLabel>
#include <QLayout>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>

namespace {
// How long the result of a spoken command stays on the status line.
constexpr int kPassingStatusMs = 4000;
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
    m_statusTimer = new QTimer(this);
    m_statusTimer->setSingleShot(true);
    m_statusTimer->setInterval(kPassingStatusMs);
    connect(m_statusTimer, &QTimer::timeout, lblCommandStatus, &QLabel::clear);

    const QString commands = tr("Listens for one spoken command: %1.").arg(app::commandList());
    // As rich text, which a tooltip wraps; plain text would run off the screen in one line.
    Command4->setToolTip(QStringLiteral("<p>%1</p>").arg(commands.toHtmlEscaped()));
    Command4->setAccessibleDescription(commands);

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
    connect(Command1, &QPushButton::clicked, this, &Form1::onCommand1Clicked);
    connect(Command2, &QPushButton::clicked, this, &Form1::onCommand2Clicked);
    connect(Command3, &QPushButton::clicked, this, &Form1::onCommand3Clicked);
    connect(Command4, &QPushButton::clicked, this, &Form1::onCommand4Clicked);
    connect(Command5, &QPushButton::clicked, this, &Form1::onCommand5Clicked);
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
        // The user's own pause (or resume) replaces the one "Give Command" holds.
        m_pausedForVoiceCommand = false;
    });
}

void Form1::onCommand3Clicked() {
    ui::runGuarded(this, [this] { speech::stopSpeaking(*Talker); });
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
    QAccessibleEvent alert(lblCommandStatus, QAccessible::Alert);
    QAccessible::updateAccessibility(&alert);
}

void Form1::showStatus(const QString &text, StatusLasts lasts) {
    lblCommandStatus->setText(text);
    lblCommandStatus->setAccessibleDescription(text);
    m_statusUntilNextSpeak = lasts == StatusLasts::UntilNextSpeak;
    if (lasts == StatusLasts::AFewSeconds)
        m_statusTimer->start();
    else
        m_statusTimer->stop();
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

#include "frmOptions.h"

#include "Engine.h"
#include "ErrorBox.h"
#include "FittedText.h"
#include "Placement.h"
#include "Speeds.h"
#include "VoiceChoice.h"
#include "VoiceList.h"

#include <QComboBox>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSlider>

using ui::makeButton;
using ui::twips;

frmOptions::frmOptions(std::function<speech::Engine &()> talker)
    : QDialog(nullptr)
    , m_talker(std::move(talker)) {
    setObjectName(QStringLiteral("frmOptions"));
    setWindowTitle(QStringLiteral("Options"));
    setFixedSize(twips(0, 0, 4680, 3195).size());
    setAttribute(Qt::WA_DeleteOnClose, false);

    Frame1 = new QGroupBox(QStringLiteral("Voice"), this);
    Frame1->setObjectName(QStringLiteral("Frame1"));
    Frame1->setGeometry(twips(120, 120, 2175, 1695));
    cboVoice = new ui::CaptionComboBox(Frame1);
    cboVoice->setObjectName(QStringLiteral("cboVoice"));
    cboVoice->setGeometry(8, 24, 129, 24);
    cboVoice->setAccessibleName(tr("Voice"));

    Frame2 = new QGroupBox(QStringLiteral("Speed"), this);
    Frame2->setObjectName(QStringLiteral("Frame2"));
    Frame2->setGeometry(twips(2400, 120, 2175, 1695));
    Label3 = new ui::CaptionLabel(QStringLiteral("Set speed here:"), Frame2);
    Label3->setObjectName(QStringLiteral("Label3"));
    Label3->setGeometry(twips(120, 240, 1935, 255));
    Label2 = new ui::CaptionLabel(QStringLiteral("Speed Factor:"), Frame2);
    Label2->setObjectName(QStringLiteral("Label2"));
    Label2->setGeometry(twips(120, 1320, 1935, 255));

    // The slider belongs to the dialog, drawn over the "Speed" frame.
    Slider1 = new QSlider(Qt::Horizontal, this);
    Slider1->setObjectName(QStringLiteral("Slider1"));
    Slider1->setGeometry(twips(2520, 720, 1935, 615));
    Slider1->setRange(parlivo::kMinWpm, parlivo::kMaxWpm);
    Slider1->setSingleStep(1);
    Slider1->setPageStep(5);
    Slider1->setTickPosition(QSlider::TicksBelow);
    Slider1->setTickInterval(1);
    // Set before connecting, so that opening the dialog sends nothing to the engine.
    Slider1->setValue(parlivo::kMinWpm);
    // A screen reader says the value after the name: "Speed in words per minute, 175".
    Slider1->setAccessibleName(tr("Speed in words per minute"));
    Slider1->setAccessibleDescription(
        tr("From %1 to %2 words per minute").arg(parlivo::kMinWpm).arg(parlivo::kMaxWpm));
    Slider1->raise();

    Command1 =
        makeButton(this, "Command1", QStringLiteral("Test Settings"), twips(120, 1920, 1215, 495));
    Command2 = makeButton(this, "Command2", QStringLiteral("OK"), twips(3360, 2640, 1215, 495));

    setTabOrder(cboVoice, Slider1);
    setTabOrder(Slider1, Command1);
    setTabOrder(Command1, Command2);

    fillVoices();
    connect(&m_talker(), &speech::Engine::voicesChanged, this, &frmOptions::fillVoices);
    // While the automatic choice reads, its entry names the language being heard.
    connect(&m_talker(), &speech::Engine::languageChanged, this, [this](const QString &language) {
        if (cboVoice->count() > 0)
            cboVoice->setItemText(0, options::automaticLabel(language));
    });
    connect(Slider1, &QSlider::valueChanged, this, &frmOptions::onSlider1Scrolled);
    connect(Command1, &QPushButton::clicked, this, &frmOptions::onCommand1Clicked);
    connect(Command2, &QPushButton::clicked, this, &frmOptions::onCommand2Clicked);
    connect(cboVoice, &QComboBox::activated, this, &frmOptions::onCboVoiceActivated);
    Slider1->setFocus();
}

void frmOptions::fillVoices() {
    const QSignalBlocker blocker(cboVoice);
    const QList<speech::Voice> voices = options::sortedVoices(m_talker().voices());
    cboVoice->clear();
    cboVoice->addItem(options::automaticLabel(m_talker().currentLanguage()),
                      speech::kAutomaticVoice);
    for (const speech::Voice &v : voices)
        cboVoice->addItem(options::voiceLabel(v), v.id);
    const QString voice = m_talker().voice();
    const int index = options::indexOfVoice(voices, voice);
    cboVoice->setCurrentIndex(voice == speech::kAutomaticVoice ? 0 : index < 0 ? -1 : index + 1);
}

void frmOptions::keyPressEvent(QKeyEvent *event) {
    // Escape does not close this dialog, and Enter presses nothing: only OK and the title bar's
    // close button end it.
    switch (event->key()) {
    case Qt::Key_Escape:
    case Qt::Key_Return:
    case Qt::Key_Enter:
        event->accept();
        return;
    default:
        QDialog::keyPressEvent(event);
    }
}

void frmOptions::onSlider1Scrolled(int position) {
    // The label first, then the engine, for every position the user passes through.
    ui::runGuarded(this, [this, position] {
        Label2->setText(QStringLiteral("Speed Factor: ") + QString::number(position));
        m_talker().setSpeed(Slider1->value());
    });
}

void frmOptions::onCommand1Clicked() {
    // A preview: what was being read goes on (or stays paused) where it was afterwards.
    ui::runGuarded(this, [this] { m_talker().speakPreview(kTestSentence); });
}

void frmOptions::onCommand2Clicked() {
    accept();
}

void frmOptions::onCboVoiceActivated(int index) {
    ui::runGuarded(this,
                   [this, index] { m_talker().setVoice(cboVoice->itemData(index).toString()); });
}

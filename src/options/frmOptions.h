#pragma once
// The Options dialog: the speed slider, the voice choice and the test sentence. Every change
// goes to the main window's engine at once; there is nothing to apply and nothing to cancel.

#include <QDialog>

#include <functional>

class QComboBox;
class QGroupBox;
class QLabel;
class QPushButton;
class QSlider;

namespace speech {
class Engine;
}

class frmOptions : public QDialog {
    Q_OBJECT
public:
    // `talker` reaches the main window's one engine; the dialog keeps none of its own.
    explicit frmOptions(std::function<speech::Engine &()> talker);

    static inline const QString kTestSentence =
        QStringLiteral("This is a test of the diction settings.");

    QGroupBox *Frame1 = nullptr; // "Voice"
    QComboBox *cboVoice = nullptr;
    QGroupBox *Frame2 = nullptr; // "Speed"
    QLabel *Label3 = nullptr;    // "Set speed here:"
    QLabel *Label2 = nullptr;    // "Speed Factor:" and then the position
    QSlider *Slider1 = nullptr;
    QPushButton *Command1 = nullptr; // "Test Settings"
    QPushButton *Command2 = nullptr; // "OK"

protected:
    void keyPressEvent(QKeyEvent *event) override;

private slots:
    void onSlider1Scrolled(int position);
    void onCommand1Clicked();
    void onCommand2Clicked();
    void onCboVoiceActivated(int index);

private:
    void fillVoices();

    std::function<speech::Engine &()> m_talker;
};

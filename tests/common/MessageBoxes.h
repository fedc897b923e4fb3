#pragma once
// Message boxes the window tests meet: what each one showed, and answering it as a user would.

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QString>
#include <QTimer>

struct ShownBox {
    QString title;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons buttons;
};

// Keeps what `box` shows and closes it: with Yes when it asks (a file dialog's replace question
// reads the button clicked, not the box's result), with OK otherwise.
inline ShownBox answerBox(QMessageBox *box) {
    ShownBox shown{box->windowTitle(), box->text(), box->icon(), box->standardButtons()};
    if (QAbstractButton *yes = box->button(QMessageBox::Yes))
        yes->click();
    else
        box->done(QMessageBox::Ok);
    return shown;
}

// Answers the next message box that opens (from a call that blocks in it), keeping what it
// showed.
class NextBoxCatcher {
public:
    ShownBox shown;
    void arm() {
        QTimer::singleShot(0, [this] { poll(); });
    }

private:
    void poll() {
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
            shown = answerBox(box);
            return;
        }
        QTimer::singleShot(20, [this] { poll(); });
    }
};

#include "Form1.h"

#include <QApplication>

int main(int argc, char *argv[]) {
    QApplication app(argc, argv);
    // Arguments are ignored: the program always starts with an empty text.
    auto *window = new Form1; // deletes itself when closed
    window->show();
    return app.exec();
}

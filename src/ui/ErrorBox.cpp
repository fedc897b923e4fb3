#include "ErrorBox.h"

#include "NumberedError.h"

#include <QMessageBox>

#include <exception>
#include <new>

namespace ui {

void showErrorBox(QWidget *parent, int number, const QString &description) {
    QMessageBox box(QMessageBox::Critical, parlivo::kAppTitle,
                    QObject::tr("Error %1: %2").arg(number).arg(description), QMessageBox::Ok,
                    parent);
    box.exec();
}

void runGuarded(QWidget *parent, const std::function<void()> &handler) {
    try {
        handler();
    } catch (const parlivo::NumberedError &e) {
        showErrorBox(parent, e.number(), e.description());
    } catch (const std::bad_alloc &) {
        showErrorBox(parent, 7, QObject::tr("Out of memory"));
    } catch (const std::exception &e) {
        showErrorBox(parent, 5, QString::fromLocal8Bit(e.what()));
    }
}

} // namespace ui

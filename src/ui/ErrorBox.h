#pragma once
// Failures in handlers that do not handle their own errors end up here: a modal box with the
// error's number and description, after which the program carries on with the text intact.

#include "AppTitle.h"

#include <QString>
#include <functional>

class QWidget;

namespace ui {

void showErrorBox(QWidget *parent, int number, const QString &description);

// Runs a handler; any exception it throws is shown with showErrorBox instead of leaving
// through the event loop.
void runGuarded(QWidget *parent, const std::function<void()> &handler);

} // namespace ui

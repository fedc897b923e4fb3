#pragma once
// Window layouts are designed in twips (1/1440 inch); 15 twips make one pixel at 96 dpi.

#include "FittedText.h"

#include <QPushButton>
#include <QRect>

namespace ui {

constexpr QRect twips(int left, int top, int width, int height) {
    return {left / 15, top / 15, width / 15, height / 15};
}

// A push button at a fixed place that Enter never presses: our windows have no default button,
// and in a dialog Qt would otherwise make every button one. Its caption always fits it.
inline QPushButton *makeButton(QWidget *parent, const char *name, const QString &caption,
                               QRect place) {
    auto *button = new CaptionButton(caption, parent);
    button->setObjectName(QLatin1String(name));
    button->setGeometry(place);
    button->setAutoDefault(false);
    button->setDefault(false);
    return button;
}

} // namespace ui

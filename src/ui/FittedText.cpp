#include "FittedText.h"

#include <QPainter>

#include <QAbstractItemView>
#include <QStyleOptionButton>
#include <QStyleOptionComboBox>
#include <QStylePainter>
#include <algorithm>

namespace ui {

QFont fittedFont(const QFont &font, const QString &text, QSize room) {
    QFont fitted = font;
    const bool inPixels = fitted.pointSizeF() <= 0; // a font set in pixels has no point size
    qreal size = inPixels ? fitted.pixelSize() * 0.75 : fitted.pointSizeF();
    for (;;) {
        const QFontMetrics metrics(fitted);
        // The ink can reach past the advance (side bearings), so both must fit.
        const int width =
            std::max(metrics.horizontalAdvance(text), metrics.boundingRect(text).width());
        const bool fits = width <= room.width() && metrics.height() <= room.height();
        if (fits || size - 0.5 < kCaptionFloorPt)
            return fitted;
        size -= 0.5;
        fitted.setPointSizeF(size);
    }
}

QRect CaptionButton::captionRoom() const {
    QStyleOptionButton option;
    initStyleOption(&option);
    // Inside the style's contents rectangle, with room to spare on every side so that no glyph
    // touches the frame; the caption is centred in the whole rectangle.
    return style()
        ->subElementRect(QStyle::SE_PushButtonContents, &option, this)
        .adjusted(2, 1, -2, -1);
}

QFont CaptionButton::captionFont() const {
    return fittedFont(font(), text(), captionRoom().size());
}

void CaptionButton::paintEvent(QPaintEvent *) {
    QStylePainter painter(this);
    QStyleOptionButton option;
    initStyleOption(&option);
    const QFont caption = captionFont();
    painter.setFont(caption);
    option.fontMetrics = QFontMetrics(caption);
    painter.drawControl(QStyle::CE_PushButton, option);
}

QFont CaptionLabel::captionFont() const {
    return fittedFont(font(), text(), contentsRect().size());
}

void CaptionLabel::paintEvent(QPaintEvent *) {
    QPainter painter(this);
    painter.setFont(captionFont());
    style()->drawItemText(&painter, contentsRect(), int(alignment()), palette(), isEnabled(),
                          text(), foregroundRole());
}

QRect CaptionComboBox::captionRoom() const {
    QStyleOptionComboBox option;
    initStyleOption(&option);
    return style()
        ->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, this)
        .adjusted(1, 0, -1, 0);
}

QFont CaptionComboBox::captionFont() const {
    return fittedFont(font(), currentText(), captionRoom().size());
}

void CaptionComboBox::showPopup() {
    view()->setMinimumWidth(view()->sizeHintForColumn(0) + 2 * view()->frameWidth() + 16);
    QComboBox::showPopup();
}

void CaptionComboBox::paintEvent(QPaintEvent *) {
    QStylePainter painter(this);
    QStyleOptionComboBox option;
    initStyleOption(&option);
    painter.drawComplexControl(QStyle::CC_ComboBox, option);
    const QFont caption = captionFont();
    painter.setFont(caption);
    option.fontMetrics = QFontMetrics(caption);
    painter.drawControl(QStyle::CE_ComboBoxLabel, option);
}

} // namespace ui

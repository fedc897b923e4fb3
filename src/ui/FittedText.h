#pragma once
// Captions that fit their controls whole. The windows' places and sizes are fixed in twips, but
// the font is the desktop's: at a larger default font "Give Command" would be cut on both sides.
// These controls draw their caption in the largest font, no larger than their own, that fits,
// down to a legible floor; their font property stays the desktop's.

#include <QComboBox>
#include <QLabel>
#include <QPushButton>

namespace ui {

// Smallest point size a caption is shrunk to; below that it would no longer be read easily.
constexpr qreal kCaptionFloorPt = 7.0;

// `font`, made smaller in half points until one line of `text` fits `room` (never below the
// floor).
QFont fittedFont(const QFont &font, const QString &text, QSize room);

class CaptionButton : public QPushButton {
    Q_OBJECT
public:
    using QPushButton::QPushButton;
    // The font the caption is drawn in now.
    QFont captionFont() const;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QRect captionRoom() const;
};

// A one-line label.
class CaptionLabel : public QLabel {
    Q_OBJECT
public:
    using QLabel::QLabel;
    QFont captionFont() const;

protected:
    void paintEvent(QPaintEvent *event) override;
};

// A list whose closed box shows the current entry in a font that fits it, and whose open list
// is wide enough for every entry whole.
class CaptionComboBox : public QComboBox {
    Q_OBJECT
public:
    using QComboBox::QComboBox;
    QFont captionFont() const;
    void showPopup() override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QRect captionRoom() const;
};

} // namespace ui

#pragma once
// What assistive technology (a screen reader or magnifier over AT-SPI) learns about our controls
// beyond what Qt tells it by itself.

class QAbstractButton;
class QKeySequence;
class QLabel;
class QString;

namespace ui {

// Gives `button` the keyboard shortcut `key`, which works anywhere in the button's window (also
// with the focus in the text area, which keeps it) and is the key binding assistive technology
// announces for the button. The key clicks the button at once: Qt's own button shortcut first
// shows a 100 ms press and takes the focus. QAbstractButton::setText() drops the shortcut: give
// it again after a change of caption.
void setShortcut(QAbstractButton &button, const QKeySequence &key);

// Shows `button`, which has a shortcut from setShortcut() but is not checkable on screen, to
// assistive technology as a toggle that is on while `on`. A change is sent as the state-change
// event screen readers listen for.
void setAccessibleToggle(QAbstractButton &button, bool on);

// Shows `text` on `label` and has screen readers say it, without moving the focus: the label is
// an alert to assistive technology, announced each time it shows a new text.
void announce(QLabel &label, const QString &text);

} // namespace ui

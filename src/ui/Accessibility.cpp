#include "Accessibility.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QAccessibleWidget>
#include <QCoreApplication>
#include <QEvent>
#include <QKeySequence>
#include <QLabel>
#include <QShortcutEvent>

namespace ui {
namespace {

// Set on a button given a shortcut by setShortcut().
constexpr char kShortcutButton[] = "parlivoShortcutButton";
// Set on a button that assistive technology sees as a toggle; its value is whether it is on.
constexpr char kToggleOn[] = "parlivoAccessibleToggleOn";
// Set on a label that is an announcement line.
constexpr char kAnnouncer[] = "parlivoAnnouncer";

class ImmediateShortcut : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override {
        if (event->type() != QEvent::Shortcut ||
            static_cast<QShortcutEvent *>(event)->isAmbiguous())
            return false;
        static_cast<QAbstractButton *>(watched)->click();
        return true;
    }
};

QString keyBinding(const QAbstractButton &button) {
    return button.shortcut().toString(QKeySequence::NativeText);
}

// A button with one of our shortcuts: what Qt says of a button, plus the shortcut as the key
// binding of every action (Qt gives it for "press" only, so a checkable button's "toggle" has
// none), and the toggle state of a button that is a toggle without being checkable.
class ShortcutButtonAccessible : public QAccessibleWidget {
public:
    explicit ShortcutButtonAccessible(QAbstractButton *button)
        : QAccessibleWidget(button, QAccessible::Button) {}

    // As Qt shows a checkable push button; asked each time, as a button may become checkable.
    QAccessible::Role role() const override {
        return button().isCheckable() ? QAccessible::CheckBox : QAccessible::Button;
    }

    QAccessible::State state() const override {
        QAccessible::State s = QAccessibleWidget::state();
        const QVariant toggle = button().property(kToggleOn);
        s.checkable = button().isCheckable() || toggle.isValid();
        s.checked = button().isCheckable() ? button().isChecked() : toggle.toBool();
        s.pressed = button().isDown();
        return s;
    }
    QString text(QAccessible::Text t) const override {
        if (t == QAccessible::Name && widget()->accessibleName().isEmpty())
            return button().text();
        if (t == QAccessible::Accelerator)
            return keyBinding(button());
        return QAccessibleWidget::text(t);
    }
    QStringList actionNames() const override {
        return button().isCheckable() ? QStringList{toggleAction()} : QStringList{pressAction()};
    }
    void doAction(const QString &action) override {
        if (action == pressAction() || action == toggleAction())
            button().click();
    }
    QStringList keyBindingsForAction(const QString &action) const override {
        if (actionNames().contains(action) && !keyBinding(button()).isEmpty())
            return {keyBinding(button())};
        return {};
    }

private:
    QAbstractButton &button() const { return *static_cast<QAbstractButton *>(widget()); }
};

// A line whose every new text screen readers say, as they say a desktop notification that
// appears.
class AnnouncerAccessible : public QAccessibleWidget {
public:
    explicit AnnouncerAccessible(QLabel *label)
        : QAccessibleWidget(label, QAccessible::Notification) {}

    QString text(QAccessible::Text t) const override {
        if (t == QAccessible::Name) {
            const QString shown = static_cast<QLabel *>(widget())->text();
            return shown.isEmpty() ? widget()->accessibleName() : shown;
        }
        return QAccessibleWidget::text(t);
    }
};

QAccessibleInterface *factory(const QString &, QObject *object) {
    if (auto *button = qobject_cast<QAbstractButton *>(object);
        button && button->property(kShortcutButton).isValid())
        return new ShortcutButtonAccessible(button);
    if (auto *label = qobject_cast<QLabel *>(object);
        label && label->property(kAnnouncer).isValid())
        return new AnnouncerAccessible(label);
    return nullptr;
}

// Our interfaces are made by a factory, which is asked only when an object's interface is first
// made, and Qt makes some as soon as a widget is: one made before the object was marked is
// dropped, so that the next question makes ours.
template <typename Ours> void useOurInterface(QObject &object) {
    static const bool installed = [] {
        QAccessible::installFactory(factory);
        return true;
    }();
    Q_UNUSED(installed)
    QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(&object);
    if (iface && !dynamic_cast<Ours *>(iface))
        QAccessible::deleteAccessibleInterface(QAccessible::uniqueId(iface));
}

} // namespace

void setShortcut(QAbstractButton &button, const QKeySequence &key) {
    static ImmediateShortcut *const filter = new ImmediateShortcut(QCoreApplication::instance());
    button.setShortcut(key);
    button.installEventFilter(filter);
    button.setProperty(kShortcutButton, true);
    useOurInterface<ShortcutButtonAccessible>(button);
}

void setAccessibleToggle(QAbstractButton &button, bool on) {
    const QVariant before = button.property(kToggleOn);
    button.setProperty(kToggleOn, on);
    if (!before.isValid() || before.toBool() == on)
        return;
    QAccessible::State changed;
    changed.checked = true;
    QAccessibleStateChangeEvent event(&button, changed);
    QAccessible::updateAccessibility(&event);
}

void announce(QLabel &label, const QString &text) {
    if (!label.property(kAnnouncer).isValid()) {
        label.setProperty(kAnnouncer, true);
        useOurInterface<AnnouncerAccessible>(label);
    }
    label.setText(text);
    if (text.isEmpty())
        return;
    QAccessibleEvent renamed(&label, QAccessible::NameChanged);
    QAccessible::updateAccessibility(&renamed);
    // What screen readers act on for a notification: it has (again) come into view.
    QAccessibleEvent shown(&label, QAccessible::ObjectShow);
    QAccessible::updateAccessibility(&shown);
}

} // namespace ui

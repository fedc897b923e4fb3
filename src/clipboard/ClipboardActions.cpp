#include "ClipboardActions.h"

#include "DocumentText.h"

#include <QClipboard>
#include <QGuiApplication>

#include <stdexcept>

namespace clipboard {

namespace {

// Qt hands out no clipboard before the application object exists or when built without one;
// say so rather than let Copy or Paste do nothing.
QClipboard &systemClipboard() {
    QClipboard *board = QGuiApplication::clipboard();
    if (!board)
        throw std::runtime_error("The clipboard is not available.");
    return *board;
}

} // namespace

void copySelection(const DocumentText &document) {
    // An empty selection still replaces what was there: Copy always leaves the selection behind.
    systemClipboard().setText(document.selectedText());
}

void pasteAtEnd(DocumentText &document) {
    const QString added = systemClipboard().text();
    // No text (nothing, or only images): the document, caret and undo history stay as they are.
    if (added.isEmpty())
        return;
    // The result is the old text followed by the clipboard's, but appended in place: setting the
    // joined text would split and lay out every old line again. Reading the clipboard dispatches
    // no input, so the text appended to is the one the user had when choosing Paste.
    document.append(added);
}

} // namespace clipboard

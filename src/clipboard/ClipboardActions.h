#pragma once
// Edit > Copy and Edit > Paste.

class DocumentText;

namespace clipboard {

// Puts the selection on the clipboard as plain text, lines separated by "\r\n".
void copySelection(const DocumentText &document);
// Sets the text to the old text followed directly by the clipboard's plain text.
void pasteAtEnd(DocumentText &document);

} // namespace clipboard

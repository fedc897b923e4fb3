#pragma once
// File > Open Document and File > Save Document.

class QFileDialog;
class QWidget;
class DocumentText;

namespace documents {

// Shows `dialog` to open a file and appends its lines to the document.
void openDocument(QWidget *parent, QFileDialog &dialog, DocumentText &document);
// Shows `dialog` to pick a file and appends the document to it.
void saveDocument(QWidget *parent, QFileDialog &dialog, const DocumentText &document);

} // namespace documents

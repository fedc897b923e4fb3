#pragma once
// Why a document could not be read; the message is the one the window shows.

#include <QString>

#include <stdexcept>

namespace extract {

class ExtractError : public std::runtime_error {
public:
    enum class Kind {
        Damaged,    // "The file is damaged or incomplete."
        NoText,     // "This PDF contains no text (it may be scanned pages)."
        Encrypted,  // "The file is password-protected."
        TooLarge,   // "The file would unpack to more than 256 MB, so it was not opened."
        Unsupported // a format this build cannot read
    };
    ExtractError(Kind kind, const QString &message)
        : std::runtime_error(message.toStdString())
        , m_kind(kind)
        , m_message(message) {}
    Kind kind() const { return m_kind; }
    const QString &message() const { return m_message; }

    static ExtractError damaged() {
        return {Kind::Damaged, QStringLiteral("The file is damaged or incomplete.")};
    }
    static ExtractError tooLarge() {
        return {Kind::TooLarge,
                QStringLiteral("The file would unpack to more than 256 MB, so it was not opened.")};
    }

private:
    Kind m_kind;
    QString m_message;
};

} // namespace extract

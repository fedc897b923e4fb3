#pragma once

#include <QMetaType>
#include <QString>
#include <exception>
#include <string>

namespace speech {

// A failure with a number and a description, as the error box shows it.
class NumberedError : public std::exception {
public:
    NumberedError() = default;
    NumberedError(int number, QString description)
        : m_number(number)
        , m_description(std::move(description))
        , m_what(m_description.toStdString()) {}

    int number() const { return m_number; }
    QString description() const { return m_description; }
    const char *what() const noexcept override { return m_what.c_str(); }

private:
    int m_number = 0;
    QString m_description;
    std::string m_what;
};

// A failure of the speech engine.
class EngineError : public NumberedError {
public:
    enum Number {
        NoAudioDevice = 1,
        WorkerStart = 2,
        WorkerDied = 3,
        AudioOutput = 4,
        Synthesis = 5,
    };
    using NumberedError::NumberedError;
};

} // namespace speech

Q_DECLARE_METATYPE(speech::EngineError)

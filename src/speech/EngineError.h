#pragma once

#include <QMetaType>
#include <QString>
#include <exception>
#include <string>

namespace speech {

// A failure of the speech engine, with a number and a description for the error box.
class EngineError : public std::exception {
public:
    enum Number {
        NoAudioDevice = 1,
        WorkerStart = 2,
        WorkerDied = 3,
        AudioOutput = 4,
        Synthesis = 5,
    };

    EngineError() = default;
    EngineError(int number, QString description)
        : m_number(number), m_description(std::move(description)),
          m_what(m_description.toStdString()) {}

    int number() const { return m_number; }
    QString description() const { return m_description; }
    const char *what() const noexcept override { return m_what.c_str(); }

private:
    int m_number = 0;
    QString m_description;
    std::string m_what;
};

} // namespace speech

Q_DECLARE_METATYPE(speech::EngineError)

#pragma once
// The one kind of failure the windows show as it is: a number and a description. The engine's,
// the export's and the documents' failures are all of this kind, so one error box serves them.

#include <QString>

#include <exception>
#include <string>

namespace parlivo {

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

} // namespace parlivo

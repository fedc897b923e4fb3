#pragma once
// A failure of an export, with a number and a description the window can show as it is.

#include <QString>

#include <exception>
#include <string>

namespace audioexport {

class ExportError : public std::exception {
public:
    enum Number {
        FileCreate = 1,  // the temporary file could not be made in the target folder
        FileWrite = 2,   // writing, finishing or renaming the file failed
        Synthesis = 3,   // the synthesiser reported an error
        WorkerDied = 4,  // a synthesis worker ended in the middle of the text
        WorkerStart = 5, // a synthesis worker could not be started
    };

    ExportError(int number, QString description)
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

} // namespace audioexport

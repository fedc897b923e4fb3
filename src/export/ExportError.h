#pragma once
// A failure of an export, with a number and a description the window can show as it is.

#include "NumberedError.h"

namespace audioexport {

class ExportError : public parlivo::NumberedError {
public:
    enum Number {
        FileCreate = 1,  // the temporary file could not be made in the target folder
        FileWrite = 2,   // writing, finishing or renaming the file failed
        Synthesis = 3,   // the synthesiser reported an error
        WorkerDied = 4,  // a synthesis worker ended in the middle of the text
        WorkerStart = 5, // a synthesis worker could not be started
    };
    using NumberedError::NumberedError;
};

} // namespace audioexport

#pragma once

#include "NumberedError.h"

#include <QMetaType>

namespace speech {

// A failure of the speech engine.
class EngineError : public parlivo::NumberedError {
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

#include "PlaybackControls.h"

#include "Chunker.h"
#include "Engine.h"

#include <algorithm>
#include <string_view>

namespace speech {
namespace {

std::u16string_view units(QStringView text) {
    return {reinterpret_cast<const char16_t *>(text.utf16()), std::size_t(text.size())};
}

// The sentence the synthesiser speaks first from `from` on, as it would split it.
std::optional<TextRange> sentenceFrom(QStringView text, qsizetype from) {
    const auto next = parlivo::text::nextChunk(units(text), std::size_t(from), true);
    if (next.status != parlivo::text::ChunkStatus::Ready)
        return std::nullopt;
    return TextRange{qint64(next.chunk.start), qint64(next.chunk.length)};
}

} // namespace

void speakWholeText(Engine &engine, const QString &text) noexcept {
    try {
        engine.speak(text);
    } catch (...) {
        // ">" ignores every error by design: no box, the window stays as it was.
    }
}

QString togglePause(Engine &engine, const QString &caption) {
    if (caption == kPauseCaption) {
        engine.pause();
        return kResumeCaption;
    }
    engine.resume();
    return kPauseCaption;
}

void stopSpeaking(Engine &engine) {
    engine.stop();
}

qsizetype sentenceBefore(QStringView text, qsizetype start) {
    start = std::clamp<qsizetype>(start, 0, text.size());
    // A few pieces' length back is always at least one whole piece before `start`. Starting at
    // a line break, if there is one there, makes the first piece a whole sentence too.
    qsizetype from = std::max<qsizetype>(0, start - 3 * qsizetype(parlivo::text::kMaxChunk));
    const qsizetype lineBreak = text.first(std::max<qsizetype>(0, start - 1)).lastIndexOf(u'\n');
    if (lineBreak >= from)
        from = lineBreak + 1;
    qsizetype before = start;
    while (const auto sentence = sentenceFrom(text.first(start), from)) {
        before = sentence->offset;
        from = sentence->offset + sentence->length;
    }
    return before;
}

bool moveBySentence(Engine &engine, const SpeechRequest &reading, SentenceMove move) {
    const QStringView text = reading.text;
    // Between a request and its first audio nothing is heard yet: the first sentence of the
    // request is the one about to be.
    std::optional<TextRange> heard = engine.currentSentence();
    if (!heard)
        heard = sentenceFrom(text, reading.from);
    if (!heard)
        return false;
    qsizetype to = heard->offset;
    switch (move) {
    case SentenceMove::Next: {
        const auto next = sentenceFrom(text, heard->offset + heard->length);
        if (!next)
            return false;
        to = next->offset;
        break;
    }
    case SentenceMove::Restart:
        break;
    case SentenceMove::Back:
        to = sentenceBefore(text, heard->offset);
        break;
    }
    engine.speak(reading.text, to);
    return true;
}

} // namespace speech

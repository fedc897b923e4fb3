#include "Commands.h"

#include "Speeds.h"

#include <algorithm>
#include <array>
#include <sstream>

namespace voicecommands {

namespace {

constexpr std::array kPhrases{
    CommandPhrase{Command::Read, "read"},
    CommandPhrase{Command::Pause, "pause"},
    CommandPhrase{Command::Resume, "resume"},
    CommandPhrase{Command::Stop, "stop"},
    CommandPhrase{Command::Faster, "faster"},
    CommandPhrase{Command::Slower, "slower"},
    CommandPhrase{Command::OpenDocument, "open document"},
    CommandPhrase{Command::SaveDocument, "save document"},
    CommandPhrase{Command::Export, "export"},
    CommandPhrase{Command::Copy, "copy"},
    CommandPhrase{Command::Paste, "paste"},
    CommandPhrase{Command::Options, "options"},
    CommandPhrase{Command::ReadMode, "read mode"},
};

constexpr int kSpeedStep = 25;

// "read(2)" -> "read"; silence and noise marks -> empty.
std::string plainWord(std::string word) {
    if (word.empty() || word.front() == '<' || word.front() == '[')
        return {};
    if (const auto paren = word.find('('); paren != std::string::npos)
        word.erase(paren);
    std::transform(word.begin(), word.end(), word.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return word;
}

} // namespace

std::span<const CommandPhrase> commandPhrases() {
    return kPhrases;
}

std::string_view phraseOf(Command command) {
    for (const CommandPhrase &phrase : kPhrases) {
        if (phrase.command == command)
            return phrase.words;
    }
    return {};
}

std::optional<Command> commandFromWords(std::string_view words) {
    std::istringstream in{std::string(words)};
    std::string normalised;
    for (std::string word; in >> word;) {
        word = plainWord(std::move(word));
        if (word.empty())
            continue;
        if (!normalised.empty())
            normalised += ' ';
        normalised += word;
    }
    for (const CommandPhrase &phrase : kPhrases) {
        if (phrase.words == normalised)
            return phrase.command;
    }
    return std::nullopt;
}

int steppedSpeed(int currentWpm, bool faster) {
    const int from = currentWpm == 0 ? parlivo::kDefaultWpm : currentWpm;
    return std::clamp(from + (faster ? kSpeedStep : -kSpeedStep), parlivo::kMinWpm,
                      parlivo::kMaxWpm);
}

} // namespace voicecommands

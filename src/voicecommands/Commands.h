#pragma once
// The spoken commands and the phrases that say them. Free of Qt widgets and of the recogniser.

#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace voicecommands {

enum class Command {
    Read,
    Pause,
    Resume,
    Stop,
    Faster,
    Slower,
    OpenDocument,
    SaveDocument,
    Export,
    Copy,
    Paste,
    Options,
    ReadMode,
};

struct CommandPhrase {
    Command command;
    std::string_view words; // lower case, single spaces, every word in the pronouncing dictionary
};

// Every command once, in a fixed order.
std::span<const CommandPhrase> commandPhrases();

// The phrase for a command ("open document").
std::string_view phraseOf(Command command);

// The command a recognised word sequence says; nothing for anything else. Tolerates the
// recogniser's silence and filler marks ("<sil>", "[NOISE]") and alternate-pronunciation
// suffixes ("read(2)").
std::optional<Command> commandFromWords(std::string_view words);

// The speed after "faster" / "slower": one step of 25 words per minute, kept within 50..510.
// 0 means the synthesiser's default, which is 175.
int steppedSpeed(int currentWpm, bool faster);

} // namespace voicecommands

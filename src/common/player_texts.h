#pragma once

// Every text a player reads, in one language: the message boxes' texts and captions, and the
// agreement window's title, label, buttons and agreement. The launcher carries one texts file per
// language in its resources (resources/texts/<language>.txt, read by ReadPlayerTexts); the log and
// zvpublish keep to the English of DescribeLaunchResult.
//
// A texts file is UTF-8, read line by line (CR LF or LF):
//   # a comment                      (a line that begins with '#', before "agreement:")
//   language: de                     (first; the file's language, a BCP 47 tag such as pt-BR)
//   key: text                        (one line each; the keys are those of English, no more, no less)
//   agreement:                       (last: every line after it is the agreement, one paragraph a
//                                     line, paragraphs apart by empty lines)
// A text may not be empty. "{error}" stands where result.19 and result.20 put the error number,
// once each, and nowhere else. Each button's text marks its access key with one '&' before a
// character, and the two keys differ; the label has no '&' (its control would take it for one).

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "common/launch_result.h"

namespace zv {

enum class PlayerText : std::uint8_t {
    LauncherTitle,          // title: the agreement window's title and the caption of the other boxes
    AnotherInstance,        // another-instance
    LauncherUpdateCaption,  // caption.launcher-update
    GameUpdateCaption,      // caption.game-update
    ConsentInstruction,     // consent.instruction
    AcceptButton,           // consent.accept
    CancelButton,           // consent.cancel
    Agreement,              // agreement
};

// The keys of a texts file, in the order of PlayerText and then of the results (result.0 to
// result.20, result.30 to result.34, result.unknown).
std::string_view PlayerTextKey(PlayerText text);

// What stands in result.19 and result.20 for the error number.
inline constexpr std::string_view kErrorPlaceholder = "{error}";

class PlayerTexts {
public:
    // The built-in English: the texts as they have always been, without the agreement, which
    // lives in the texts files alone (a launcher that cannot read its own resources has none to
    // show, and so asks nobody to accept it).
    PlayerTexts();

    // The texts of a texts file, or what is wrong with it (in English, naming the line or key).
    static std::variant<PlayerTexts, std::string> Read(std::string_view file);

    // The tag on a texts file's "language:" line, read without the rest of the file; nothing
    // when the file does not begin with one (comments and empty lines may come first).
    static std::optional<std::string> ReadLanguage(std::string_view file);

    [[nodiscard]] const std::string& language() const { return language_; }
    [[nodiscard]] const std::wstring& Get(PlayerText text) const { return texts_[static_cast<std::size_t>(text)]; }

    // The text of a result in this language, with the error number where the text has its place
    // (results 19 and 20); the unknown-error text for values without a text of their own, as
    // DescribeLaunchResult does.
    [[nodiscard]] std::wstring Describe(const StepResult& step) const;

    static constexpr std::size_t kTextCount = 8;
    static constexpr std::size_t kResultCount = 27;  // 0 to 20, 30 to 34, unknown

private:
    std::string language_;
    std::array<std::wstring, kTextCount> texts_;
    std::array<std::wstring, kResultCount> results_;
};

}  // namespace zv

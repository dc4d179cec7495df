#include "common/player_texts.h"

#include <algorithm>
#include <bitset>
#include <cstddef>
#include <utility>

#include "common/launcher_title.h"
#include "common/text.h"

namespace zv {

namespace {

constexpr std::array<std::string_view, PlayerTexts::kTextCount> kTextKeys = {
    "title",
    "another-instance",
    "caption.launcher-update",
    "caption.game-update",
    "consent.instruction",
    "consent.accept",
    "consent.cancel",
    "agreement",
};

constexpr std::array<std::string_view, PlayerTexts::kResultCount> kResultKeys = {
    "result.0",  "result.1",  "result.2",  "result.3",  "result.4",  "result.5",       "result.6",
    "result.7",  "result.8",  "result.9",  "result.10", "result.11", "result.12",      "result.13",
    "result.14", "result.15", "result.16", "result.17", "result.18", "result.19",      "result.20",
    "result.30", "result.31", "result.32", "result.33", "result.34", "result.unknown",
};

constexpr std::size_t kUnknownResult = PlayerTexts::kResultCount - 1;
constexpr std::string_view kAgreementKey = "agreement";
constexpr std::string_view kLanguageKey = "language";

// Where a result's text is kept: 0 to 20 as they are, 30 to 34 after them, anything else unknown.
std::size_t ResultIndex(LaunchResult result) {
    const auto value = static_cast<std::uint32_t>(result);
    if (value <= 20) {
        return value;
    }
    if (value >= 30 && value <= 34) {
        return 21 + (value - 30);
    }
    return kUnknownResult;
}

bool TakesErrorNumber(std::size_t resultIndex) { return resultIndex == 19 || resultIndex == 20; }

// The next line of text (without its CR LF or LF), moving at past it.
std::string_view NextLine(std::string_view text, std::size_t& at) {
    const std::size_t end = std::min(text.find('\n', at), text.size());
    std::string_view line = text.substr(at, end - at);
    at = end + 1;
    if (!line.empty() && line.back() == '\r') {
        line.remove_suffix(1);
    }
    return line;
}

std::string_view TrimBlanks(std::string_view text) {
    const std::size_t first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

std::string_view WithoutByteOrderMark(std::string_view file) {
    constexpr std::string_view kBom = "\xEF\xBB\xBF";
    return file.substr(0, kBom.size()) == kBom ? file.substr(kBom.size()) : file;
}

// "\"key\" what", built by appending (GCC 12 warns falsely about "\"" + std::string).
std::string Problem(std::string_view key, std::string_view what) {
    std::string text(1, '"');
    text.append(key).append("\" ").append(what);
    return text;
}

bool IsComment(std::string_view line) { return !line.empty() && line.front() == '#'; }

// "key: text" split at its first colon, both sides without blanks around them; nothing for a
// line without a colon.
std::optional<std::pair<std::string_view, std::string_view>> SplitEntry(std::string_view line) {
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos) {
        return std::nullopt;
    }
    return std::pair{TrimBlanks(line.substr(0, colon)), TrimBlanks(line.substr(colon + 1))};
}

std::size_t Count(std::string_view text, std::string_view part) {
    std::size_t count = 0;
    for (std::size_t at = text.find(part); at != std::string_view::npos; at = text.find(part, at + part.size())) {
        ++count;
    }
    return count;
}

// The character after a button's one '&', or nothing when the text has no '&' or more than one,
// or ends in it.
std::optional<char32_t> AccessKey(std::wstring_view text) {
    if (std::count(text.begin(), text.end(), L'&') != 1) {
        return std::nullopt;
    }
    const std::size_t at = text.find(L'&');
    if (at + 1 >= text.size() || text[at + 1] == L' ') {
        return std::nullopt;
    }
    return static_cast<char32_t>(FoldAsciiCase(text[at + 1]));
}

}  // namespace

std::string_view PlayerTextKey(PlayerText text) { return kTextKeys[static_cast<std::size_t>(text)]; }

PlayerTexts::PlayerTexts() : language_("en") {
    texts_[static_cast<std::size_t>(PlayerText::LauncherTitle)] = std::wstring(kLauncherTitle);
    texts_[static_cast<std::size_t>(PlayerText::AnotherInstance)] = L"Another instance is already running";
    texts_[static_cast<std::size_t>(PlayerText::LauncherUpdateCaption)] = L"Launcher Update Error";
    texts_[static_cast<std::size_t>(PlayerText::GameUpdateCaption)] = L"Game Update Error";
    texts_[static_cast<std::size_t>(PlayerText::ConsentInstruction)] =
        L"To install Zarnovelle you must accept the terms of the EULA:";
    texts_[static_cast<std::size_t>(PlayerText::AcceptButton)] = L"&I Accept";
    texts_[static_cast<std::size_t>(PlayerText::CancelButton)] = L"&Cancel";
    for (std::uint32_t value = 0; value <= 34; ++value) {
        const auto result = static_cast<LaunchResult>(value);
        const std::size_t index = ResultIndex(result);
        if (index == kUnknownResult) {
            continue;
        }
        std::wstring text = DescribeLaunchResult(result, 0);
        if (TakesErrorNumber(index)) {
            // DescribeLaunchResult writes the number (here 0) at the very end; the placeholder
            // stands there instead.
            text.pop_back();
            text += FromUtf8(kErrorPlaceholder);
        }
        results_[index] = std::move(text);
    }
    results_[kUnknownResult] = DescribeLaunchResult(static_cast<LaunchResult>(0xFFFFFFFFu));
}

std::optional<std::string> PlayerTexts::ReadLanguage(std::string_view file) {
    file = WithoutByteOrderMark(file);
    for (std::size_t at = 0; at < file.size();) {
        const std::string_view line = NextLine(file, at);
        if (TrimBlanks(line).empty() || IsComment(line)) {
            continue;
        }
        const auto entry = SplitEntry(line);
        if (!entry || entry->first != kLanguageKey || entry->second.empty()) {
            return std::nullopt;
        }
        return std::string(entry->second);
    }
    return std::nullopt;
}

std::variant<PlayerTexts, std::string> PlayerTexts::Read(std::string_view file) {
    file = WithoutByteOrderMark(file);
    PlayerTexts texts;
    texts.language_.clear();
    std::bitset<kTextCount + kResultCount> seen;
    std::size_t lineNumber = 0;
    std::size_t at = 0;
    bool agreement = false;
    while (at < file.size() && !agreement) {
        const std::string_view line = NextLine(file, at);
        ++lineNumber;
        if (TrimBlanks(line).empty() || IsComment(line)) {
            continue;
        }
        const auto entry = SplitEntry(line);
        const std::string where = "line " + std::to_string(lineNumber);
        if (!entry) {
            return where + ": not \"key: text\"";
        }
        const auto [key, value] = *entry;
        if (texts.language_.empty()) {
            if (key != kLanguageKey || value.empty()) {
                return where + ": the file must begin with \"language: <tag>\"";
            }
            texts.language_ = std::string(value);
            continue;
        }
        std::size_t slot = kTextCount + kResultCount;
        if (const auto text = std::find(kTextKeys.begin(), kTextKeys.end(), key); text != kTextKeys.end()) {
            slot = static_cast<std::size_t>(text - kTextKeys.begin());
        } else if (const auto result = std::find(kResultKeys.begin(), kResultKeys.end(), key);
                   result != kResultKeys.end()) {
            slot = kTextCount + static_cast<std::size_t>(result - kResultKeys.begin());
        } else {
            return where + ": " + Problem(key, "is no text of the launcher");
        }
        if (seen.test(slot)) {
            return where + ": " + Problem(key, "comes twice");
        }
        seen.set(slot);
        if (key == kAgreementKey) {
            if (!value.empty()) {
                return where + ": the agreement begins on the line after \"agreement:\"";
            }
            agreement = true;
            continue;
        }
        if (value.empty()) {
            return where + ": " + Problem(key, "is empty");
        }
        const std::wstring wide = FromUtf8(value);
        if (slot < kTextCount) {
            texts.texts_[slot] = wide;
        } else {
            texts.results_[slot - kTextCount] = wide;
        }
    }
    if (texts.language_.empty()) {
        return std::string("the file has no \"language:\" line");
    }

    // The agreement: the rest of the file, one paragraph a line.
    std::wstring& agreementText = texts.texts_[static_cast<std::size_t>(PlayerText::Agreement)];
    agreementText.clear();
    while (at < file.size()) {
        const std::string_view line = TrimBlanks(NextLine(file, at));
        if (line.empty()) {
            continue;
        }
        if (!agreementText.empty()) {
            agreementText += L"\r\n\r\n";
        }
        agreementText += FromUtf8(line);
    }
    if (agreement && agreementText.empty()) {
        return std::string("the agreement is empty");
    }

    for (std::size_t slot = 0; slot < seen.size(); ++slot) {
        if (!seen.test(slot)) {
            return Problem(slot < kTextCount ? kTextKeys[slot] : kResultKeys[slot - kTextCount], "is missing");
        }
    }
    for (std::size_t index = 0; index < kResultCount; ++index) {
        const std::wstring& text = texts.results_[index];
        const std::size_t wanted = TakesErrorNumber(index) ? 1 : 0;
        if (Count(ToUtf8(text), kErrorPlaceholder) != wanted) {
            return Problem(kResultKeys[index], wanted == 1 ? "must hold {error} once" : "must hold {error} nowhere");
        }
    }
    const std::optional<char32_t> accept = AccessKey(texts.Get(PlayerText::AcceptButton));
    const std::optional<char32_t> cancel = AccessKey(texts.Get(PlayerText::CancelButton));
    if (!accept || !cancel) {
        return std::string("each button's text must mark one access key with one '&'");
    }
    if (*accept == *cancel) {
        return std::string("the two buttons have the same access key");
    }
    if (texts.Get(PlayerText::ConsentInstruction).find(L'&') != std::wstring::npos) {
        return std::string("\"consent.instruction\" may not hold '&'");
    }
    return texts;
}

std::wstring PlayerTexts::Describe(const StepResult& step) const {
    const std::size_t index = ResultIndex(step.result);
    std::wstring text = results_[index];
    if (TakesErrorNumber(index)) {
        const std::wstring placeholder = FromUtf8(kErrorPlaceholder);
        const std::size_t at = text.find(placeholder);
        if (at != std::wstring::npos) {
            text.replace(at, placeholder.size(), std::to_wstring(step.systemError));
        }
    }
    return text;
}

}  // namespace zv

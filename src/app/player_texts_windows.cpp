// The player's language and texts: Windows' preferred UI languages for the user against the
// texts files the launcher carries (resources of type ZVTEXTS, numbered from 1, one per language;
// see resources/CMakeLists.txt).
#include <windows.h>

#include <algorithm>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "app/run_facts.h"
#include "common/language_choice.h"
#include "common/text.h"

namespace zv {

namespace {

constexpr wchar_t kTextsType[] = L"ZVTEXTS";

// The bytes of texts resource number; empty when there is none. Resources are mapped with the
// program: nothing is copied and nothing needs freeing.
std::string_view TextsResource(HMODULE module, int number) {
    const HRSRC found = ::FindResourceW(module, MAKEINTRESOURCEW(number), kTextsType);
    if (found == nullptr) {
        return {};
    }
    const HGLOBAL loaded = ::LoadResource(module, found);
    const void* bytes = loaded != nullptr ? ::LockResource(loaded) : nullptr;
    return bytes != nullptr ? std::string_view(static_cast<const char*>(bytes), ::SizeofResource(module, found))
                            : std::string_view();
}

// The user's preferred UI languages, most preferred first; none when Windows does not say.
std::vector<std::string> PreferredUiLanguages() {
    ULONG count = 0;
    ULONG length = 0;
    if (::GetUserPreferredUILanguages(MUI_LANGUAGE_NAME, &count, nullptr, &length) == FALSE || length == 0) {
        return {};
    }
    std::wstring names(length, L'\0');
    if (::GetUserPreferredUILanguages(MUI_LANGUAGE_NAME, &count, names.data(), &length) == FALSE) {
        return {};
    }
    // A list of names, each ending in a NUL, the list in one more.
    std::vector<std::string> languages;
    for (std::wstring_view rest(names.data(), std::min<std::size_t>(length, names.size()));;) {
        const std::size_t end = rest.find(L'\0');
        if (end == 0 || end == std::wstring_view::npos) {
            return languages;
        }
        languages.push_back(ToUtf8(rest.substr(0, end)));
        rest.remove_prefix(end + 1);
    }
}

}  // namespace

void ReadPlayerTexts(RunFacts& facts) {
    const HMODULE self = ::GetModuleHandleW(nullptr);
    std::vector<std::string> languages;
    std::vector<std::string_view> files;
    for (int number = 1;; ++number) {
        const std::string_view file = TextsResource(self, number);
        if (file.empty()) {
            break;
        }
        if (std::optional<std::string> language = PlayerTexts::ReadLanguage(file)) {
            languages.push_back(std::move(*language));
            files.push_back(file);
        }
    }
    facts.preferredLanguages = PreferredUiLanguages();
    const std::string chosen = ChooseLanguage(facts.preferredLanguages, languages);
    const auto note = [&facts](const std::string& problem) {
        facts.textsProblem += (facts.textsProblem.empty() ? "" : "; ") + problem;
    };
    // The chosen language's file; when that cannot be read, English's; when neither can, the
    // built-in English the facts start with.
    const std::string_view tries[] = {chosen, kDefaultLanguage};
    for (std::size_t i = 0; i < std::size(tries); ++i) {
        const std::string language(tries[i]);
        if (i > 0 && language == chosen) {
            break;
        }
        const auto found = std::find(languages.begin(), languages.end(), language);
        if (found == languages.end()) {
            note("no texts in " + language);
            continue;
        }
        auto read = PlayerTexts::Read(files[static_cast<std::size_t>(found - languages.begin())]);
        if (auto* texts = std::get_if<PlayerTexts>(&read)) {
            facts.texts = std::move(*texts);
            return;
        }
        note("the texts in " + language + " cannot be read: " + std::get<std::string>(read));
    }
}

}  // namespace zv

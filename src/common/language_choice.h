#pragma once

// Which of the launcher's languages a player gets, from Windows' list of the user's preferred UI
// languages (BCP 47 tags, most preferred first).

#include <span>
#include <string>
#include <string_view>

namespace zv {

// The launcher's default language, and the one for anybody whose languages it has none of.
inline constexpr std::string_view kDefaultLanguage = "en";

// The first preferred language the launcher has: the tag itself, or else a language of the same
// primary subtag (de-AT finds "de", pt-PT finds "pt-BR"), that subtag alone first when the
// launcher has it. Tags compare without regard to ASCII case, with '_' taken as '-'. Returns one
// of available, or kDefaultLanguage when none of the preferred languages is among them.
std::string ChooseLanguage(std::span<const std::string> preferred, std::span<const std::string> available);

}  // namespace zv

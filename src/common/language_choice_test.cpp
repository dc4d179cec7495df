#include "common/language_choice.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

const std::vector<std::string> kShipped = {"de", "en", "es", "fr", "ja", "ko", "pl", "pt-BR", "ru", "zh-CN"};

struct ChoiceCase {
    const char* name;
    std::vector<std::string> preferred;
    std::vector<std::string> available;
    const char* chosen;
};

const ChoiceCase kCases[] = {
    {"the language itself", {"de"}, kShipped, "de"},
    {"a regional form falls back to its language", {"de-AT"}, kShipped, "de"},
    {"a region the launcher has", {"pt-BR"}, kShipped, "pt-BR"},
    {"another region of a language the launcher has in one region", {"pt-PT"}, kShipped, "pt-BR"},
    {"a script and region of a language shipped in one form", {"zh-Hans-CN"}, kShipped, "zh-CN"},
    {"the first preferred language the launcher has, not the first listed",
     {"fi-FI", "sv-SE", "ja-JP"},
     kShipped,
     "ja"},
    {"a fallback of an earlier language beats an exact later one", {"pt-PT", "de-DE"}, kShipped, "pt-BR"},
    {"English first keeps English", {"en-GB", "de-DE"}, kShipped, "en"},
    {"nothing the launcher has", {"fi-FI", "sv"}, kShipped, "en"},
    {"no preferred languages at all", {}, kShipped, "en"},
    {"case and underscores do not matter", {"PT_br"}, kShipped, "pt-BR"},
    {"an empty or blank-prefixed entry is skipped", {"", "-x", "ko-KR"}, kShipped, "ko"},
    {"the language alone before another region of it", {"pt-AO"}, {"pt-BR", "pt", "en"}, "pt"},
    {"otherwise the first region listed", {"pt-AO"}, {"pt-PT", "pt-BR", "en"}, "pt-PT"},
    {"an exact region before the language alone", {"pt-BR"}, {"pt", "pt-BR"}, "pt-BR"},
    {"a prefix that is no whole subtag does not match", {"de"}, {"dea", "en"}, "en"},
    {"the tag as the launcher spells it", {"DE-at"}, {"De", "en"}, "De"},
    {"no languages in the launcher at all", {"de"}, {}, "en"},
};

TEST(ChooseLanguage, FollowsThePlayersOrderWithRegionalFallbacks) {
    for (const ChoiceCase& c : kCases) {
        EXPECT_EQ(zv::ChooseLanguage(c.preferred, c.available), c.chosen) << c.name;
    }
}

}  // namespace

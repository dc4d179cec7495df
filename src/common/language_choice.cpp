#include "common/language_choice.h"

#include <algorithm>
#include <iterator>
#include <vector>

#include "common/text.h"

namespace zv {

namespace {

// The tag folded to lower case with '-' between its subtags.
std::string Normalised(std::string_view tag) {
    std::string out(tag);
    for (char& c : out) {
        c = c == '_' ? '-' : FoldAsciiCase(c);
    }
    return out;
}

std::string_view PrimarySubtag(std::string_view tag) { return tag.substr(0, tag.find('-')); }

}  // namespace

std::string ChooseLanguage(std::span<const std::string> preferred, std::span<const std::string> available) {
    std::vector<std::string> shipped;
    shipped.reserve(available.size());
    std::transform(available.begin(), available.end(), std::back_inserter(shipped), Normalised);
    const auto pick = [&](auto matches) -> const std::string* {
        const auto found = std::find_if(shipped.begin(), shipped.end(), matches);
        return found == shipped.end() ? nullptr : &available[static_cast<std::size_t>(found - shipped.begin())];
    };
    for (const std::string& wanted : preferred) {
        const std::string tag = Normalised(wanted);
        const std::string_view language = PrimarySubtag(tag);
        if (language.empty()) {
            continue;
        }
        const std::string* chosen = pick([&](const std::string& s) { return s == tag; });
        if (chosen == nullptr) {
            chosen = pick([&](const std::string& s) { return s == language; });
        }
        if (chosen == nullptr) {
            chosen = pick([&](const std::string& s) { return PrimarySubtag(s) == language; });
        }
        if (chosen != nullptr) {
            return *chosen;
        }
    }
    return std::string(kDefaultLanguage);
}

}  // namespace zv

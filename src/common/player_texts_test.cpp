// The texts files the launcher ships (resources/texts), read as the launcher reads them: this is
// the check that fails when a language lacks a text, has one too many, or drops the error number.
#include "common/player_texts.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <string>
#include <variant>
#include <vector>

#include "build_tree.h"
#include "common/text.h"
#include "file_bytes.h"

namespace {

namespace fs = std::filesystem;
using zv::PlayerText;
using zv::PlayerTexts;

constexpr PlayerText kAllTexts[] = {PlayerText::LauncherTitle,         PlayerText::AnotherInstance,
                                    PlayerText::LauncherUpdateCaption, PlayerText::GameUpdateCaption,
                                    PlayerText::ConsentInstruction,    PlayerText::AcceptButton,
                                    PlayerText::CancelButton,          PlayerText::Agreement};

// Every result the launcher can be asked to describe, with an error number for those that take one.
std::vector<zv::StepResult> AllResults() {
    std::vector<zv::StepResult> results;
    for (std::uint32_t value : {0u,  1u,  2u,  3u,  4u,  5u,  6u,  7u,  8u,  9u,  10u, 11u, 12u, 13u, 14u,
                                15u, 16u, 17u, 18u, 19u, 20u, 21u, 29u, 30u, 31u, 32u, 33u, 34u, 35u, 4294967295u}) {
        results.emplace_back(static_cast<zv::LaunchResult>(value), 4294967295u);
    }
    return results;
}

fs::path TextsFolder() {
    const auto folder = zv::test::SourceTreePath("resources/texts");
    if (!folder) {
        throw std::runtime_error("ZV_SOURCE_DIR is not set: run the tests with ctest");
    }
    return *folder;
}

std::string ReadTextsFile(const std::string& language) {
    return zv::test::ReadFileText(TextsFolder() / (language + ".txt"));
}

// Every shipped texts file by its name without ".txt".
std::map<std::string, std::string> ShippedFiles() {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::directory_iterator(TextsFolder())) {
        if (entry.path().extension() == ".txt") {
            files[entry.path().stem().string()] = zv::test::ReadFileText(entry.path());
        }
    }
    return files;
}

PlayerTexts ReadOrFail(const std::string& file, const std::string& name) {
    auto read = PlayerTexts::Read(file);
    if (const auto* problem = std::get_if<std::string>(&read)) {
        ADD_FAILURE() << name << ": " << *problem;
        return PlayerTexts();
    }
    return std::get<PlayerTexts>(std::move(read));
}

std::vector<std::wstring> Paragraphs(std::wstring_view text) {
    constexpr std::wstring_view kBreak = L"\r\n\r\n";
    std::vector<std::wstring> paragraphs;
    for (;;) {
        const size_t end = text.find(kBreak);
        paragraphs.emplace_back(text.substr(0, end));
        if (end == std::wstring_view::npos) {
            return paragraphs;
        }
        text.remove_prefix(end + kBreak.size());
    }
}

bool StartsWith(std::wstring_view text, std::wstring_view prefix) { return text.substr(0, prefix.size()) == prefix; }

TEST(ShippedTexts, AreTheTenLanguagesOfTheLauncher) {
    std::vector<std::string> names;
    for (const auto& [name, file] : ShippedFiles()) {
        names.push_back(name);
    }
    EXPECT_EQ(names, (std::vector<std::string>{"de", "en", "es", "fr", "ja", "ko", "pl", "pt-BR", "ru", "zh-CN"}));
}

// The check: each file has every text, no other, the error number where the code puts it, the
// access keys, and an agreement of the English one's form, paragraph for paragraph.
TEST(ShippedTexts, EachLanguageHasEveryTextInTheEnglishForm) {
    const PlayerTexts english = ReadOrFail(ReadTextsFile("en"), "en");
    const auto englishParagraphs = Paragraphs(english.Get(PlayerText::Agreement));
    for (const auto& [name, file] : ShippedFiles()) {
        SCOPED_TRACE(name);
        const PlayerTexts texts = ReadOrFail(file, name);
        EXPECT_EQ(texts.language(), name) << "the language line names the file's language";
        EXPECT_EQ(PlayerTexts::ReadLanguage(file), name);
        for (const auto& step : AllResults()) {
            const std::wstring text = texts.Describe(step);
            EXPECT_EQ(text.find(L"{error}"), std::wstring::npos) << zv::ToUtf8(text);
            const bool numbered = step.result == zv::LaunchResult::ShellExecuteFailed ||
                                  step.result == zv::LaunchResult::CreateProcessFailed;
            EXPECT_EQ(text.find(L"4294967295") != std::wstring::npos, numbered) << zv::ToUtf8(text);
        }
        const auto paragraphs = Paragraphs(texts.Get(PlayerText::Agreement));
        ASSERT_EQ(paragraphs.size(), englishParagraphs.size());
        for (size_t i = 0; i < paragraphs.size(); ++i) {
            EXPECT_EQ(StartsWith(paragraphs[i], L"- "), StartsWith(englishParagraphs[i], L"- ")) << "paragraph " << i;
            EXPECT_EQ(StartsWith(paragraphs[i], L"**********"), StartsWith(englishParagraphs[i], L"**********"))
                << "paragraph " << i;
        }
        if (name != "en") {
            // Translated, not copied: what a player sees first differs from the English.
            for (const PlayerText text :
                 {PlayerText::ConsentInstruction, PlayerText::AcceptButton, PlayerText::CancelButton,
                  PlayerText::LauncherUpdateCaption, PlayerText::GameUpdateCaption, PlayerText::Agreement}) {
                EXPECT_NE(texts.Get(text), english.Get(text)) << zv::PlayerTextKey(text);
            }
            for (const auto& step : AllResults()) {
                EXPECT_NE(texts.Describe(step), english.Describe(step));
            }
        }
    }
}

// English stays as it has always been: the file's texts are the built-in ones and
// DescribeLaunchResult's, byte for byte.
TEST(ShippedTexts, EnglishIsTheBuiltInEnglish) {
    const PlayerTexts file = ReadOrFail(ReadTextsFile("en"), "en");
    const PlayerTexts builtIn;
    for (const PlayerText text : kAllTexts) {
        if (text != PlayerText::Agreement) {
            EXPECT_EQ(file.Get(text), builtIn.Get(text)) << zv::PlayerTextKey(text);
        }
    }
    EXPECT_TRUE(builtIn.Get(PlayerText::Agreement).empty());
    for (const auto& step : AllResults()) {
        EXPECT_EQ(file.Describe(step), zv::DescribeLaunchResult(step));
        EXPECT_EQ(builtIn.Describe(step), zv::DescribeLaunchResult(step));
    }
}

// The English agreement's form: 2,780 code units of ASCII, 15 one-line paragraphs one empty line
// apart, a heading framed by asterisks, three introductory paragraphs, ten items and a closing one.
TEST(ShippedTexts, EnglishAgreementHasItsFixedForm) {
    const PlayerTexts texts = ReadOrFail(ReadTextsFile("en"), "en");
    const std::wstring& text = texts.Get(PlayerText::Agreement);
    EXPECT_EQ(text.size(), 2780u);
    for (const wchar_t c : text) {
        ASSERT_TRUE((c >= 0x20 && c < 0x7F) || c == L'\r' || c == L'\n') << "code unit " << static_cast<int>(c);
    }
    const auto paragraphs = Paragraphs(text);
    ASSERT_EQ(paragraphs.size(), 15u);
    EXPECT_EQ(paragraphs[0], L"********** ZARNOVELLE END-USER LICENSE AGREEMENT **********");
    for (size_t i = 1; i < paragraphs.size(); ++i) {
        EXPECT_EQ(StartsWith(paragraphs[i], L"- "), i >= 4 && i <= 13) << "paragraph " << i;
        EXPECT_EQ(paragraphs[i].find_first_of(L"\r\n"), std::wstring::npos);
    }
    EXPECT_TRUE(StartsWith(paragraphs[1],
                           L"This End-User License Agreement (the \"Agreement\") is a contract between "
                           L"you and Zarnovelle Software (the \"Licensor\") about the Zarnovelle "
                           L"anti-cheat client"));
    EXPECT_EQ(paragraphs[14],
              L"Zarnovelle Software may change this Agreement. The changed text will be shown to you before it "
              L"applies. If any part of it cannot be enforced, the rest remains in effect.");
    // The buttons the text refers to are the window's own.
    EXPECT_NE(text.find(L"\"I Accept\""), std::wstring::npos);
    EXPECT_NE(text.find(L"\"Cancel\""), std::wstring::npos);
}

// What a texts file may not be: each change of the English file below must be refused.
struct Fault {
    const char* name;
    std::string (*change)(std::string);
    const char* problem;
};

std::string Replace(std::string file, std::string_view from, std::string_view to) {
    const size_t at = file.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    return file.replace(at, from.size(), to);
}

const Fault kFaults[] = {
    {"a text missing", [](std::string f) { return Replace(f, "result.31: Launcher manifest has expired.\n", ""); },
     "\"result.31\" is missing"},
    {"an extra text", [](std::string f) { return Replace(f, "title:", "subtitle: x\ntitle:"); },
     "\"subtitle\" is no text of the launcher"},
    {"a text twice", [](std::string f) { return Replace(f, "title:", "title: x\ntitle:"); }, "\"title\" comes twice"},
    {"the error number dropped", [](std::string f) { return Replace(f, "Error={error}", "Error="); },
     "\"result.19\" must hold {error} once"},
    {"the error number twice", [](std::string f) { return Replace(f, "Error={error}", "{error} Error={error}"); },
     "\"result.19\" must hold {error} once"},
    {"the error number elsewhere",
     [](std::string f) { return Replace(f, "User refused elevation.", "User refused elevation {error}."); },
     "\"result.18\" must hold {error} nowhere"},
    {"an empty text", [](std::string f) { return Replace(f, "title: Zarnovelle Launcher", "title:"); },
     "\"title\" is empty"},
    {"no language line", [](std::string f) { return Replace(f, "language: en\n", ""); },
     "the file must begin with \"language: <tag>\""},
    {"a line that is no text", [](std::string f) { return Replace(f, "title:", "just words\ntitle:"); },
     "not \"key: text\""},
    {"no agreement", [](std::string f) { return f.substr(0, f.find("agreement:")); }, "\"agreement\" is missing"},
    {"an empty agreement", [](std::string f) { return f.substr(0, f.find("agreement:") + 11); },
     "the agreement is empty"},
    {"a button without access key", [](std::string f) { return Replace(f, "&Cancel", "Cancel"); },
     "each button's text must mark one access key with one '&'"},
    {"a button with two", [](std::string f) { return Replace(f, "&Cancel", "&Can&cel"); },
     "each button's text must mark one access key with one '&'"},
    {"both buttons on one key", [](std::string f) { return Replace(f, "&Cancel", "Cancel &i"); },
     "the two buttons have the same access key"},
    {"'&' in the label", [](std::string f) { return Replace(f, "the terms of", "the terms & conditions of"); },
     "\"consent.instruction\" may not hold '&'"},
};

TEST(PlayerTextsRead, RefusesEachFaultAndSaysWhich) {
    const std::string english = ReadTextsFile("en");
    for (const Fault& fault : kFaults) {
        const auto read = PlayerTexts::Read(fault.change(english));
        ASSERT_TRUE(std::holds_alternative<std::string>(read)) << fault.name;
        EXPECT_NE(std::get<std::string>(read).find(fault.problem), std::string::npos)
            << fault.name << ": " << std::get<std::string>(read);
    }
}

TEST(PlayerTextsRead, TakesCrLfAByteOrderMarkAndBlanksAroundTexts) {
    std::string file = "\xEF\xBB\xBF" + ReadTextsFile("en");
    std::string crlf;
    for (const char c : file) {
        crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    }
    crlf = Replace(crlf, "title: Zarnovelle Launcher", "title:\t Zarnovelle Launcher  ");
    const PlayerTexts texts = ReadOrFail(crlf, "en with CR LF");
    EXPECT_EQ(texts.Get(PlayerText::LauncherTitle), L"Zarnovelle Launcher");
    EXPECT_EQ(texts.Get(PlayerText::Agreement), ReadOrFail(ReadTextsFile("en"), "en").Get(PlayerText::Agreement));
    EXPECT_EQ(PlayerTexts::ReadLanguage(crlf), "en");
}

TEST(PlayerTextsRead, ReadsTheLanguageLineAlone) {
    EXPECT_EQ(PlayerTexts::ReadLanguage("# comment\n\nlanguage: pt-BR\ngarbage"), "pt-BR");
    EXPECT_EQ(PlayerTexts::ReadLanguage("title: x\nlanguage: de\n"), std::nullopt);
    EXPECT_EQ(PlayerTexts::ReadLanguage("language:\n"), std::nullopt);
    EXPECT_EQ(PlayerTexts::ReadLanguage(""), std::nullopt);
}

}  // namespace

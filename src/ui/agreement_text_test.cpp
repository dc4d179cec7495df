#include "ui/agreement_text.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

namespace {

std::vector<std::wstring_view> Paragraphs(std::wstring_view text) {
    constexpr std::wstring_view kBreak = L"\r\n\r\n";
    std::vector<std::wstring_view> paragraphs;
    for (;;) {
        const size_t end = text.find(kBreak);
        paragraphs.push_back(text.substr(0, end));
        if (end == std::wstring_view::npos) {
            return paragraphs;
        }
        text.remove_prefix(end + kBreak.size());
    }
}

bool StartsWith(std::wstring_view text, std::wstring_view prefix) { return text.substr(0, prefix.size()) == prefix; }

TEST(AgreementText, IsPlainAsciiOfTheFixedLength) {
    EXPECT_EQ(zv::AgreementText.size(), 2780u);
    for (const wchar_t c : zv::AgreementText) {
        // Printable ASCII, with CR and LF only as the line breaks.
        ASSERT_TRUE((c >= 0x20 && c < 0x7F) || c == L'\r' || c == L'\n') << "code unit " << static_cast<int>(c);
    }
}

TEST(AgreementText, IsFifteenOneLineParagraphsSeparatedByOneEmptyLine) {
    const std::wstring_view text = zv::AgreementText;
    size_t pairs = 0;
    for (size_t at = text.find(L"\r\n"); at != std::wstring_view::npos; at = text.find(L"\r\n", at + 2)) {
        ++pairs;
    }
    EXPECT_EQ(pairs, 28u);
    EXPECT_FALSE(StartsWith(text, L"\r") || StartsWith(text, L"\n"));
    EXPECT_NE(text.back(), L'\n');
    EXPECT_NE(text.back(), L'\r');

    const auto paragraphs = Paragraphs(text);
    ASSERT_EQ(paragraphs.size(), 15u);
    for (const auto paragraph : paragraphs) {
        EXPECT_FALSE(paragraph.empty());
        EXPECT_EQ(paragraph.find_first_of(L"\r\n"), std::wstring_view::npos) << std::wstring(paragraph);
        EXPECT_NE(paragraph.front(), L' ') << std::wstring(paragraph);
        EXPECT_NE(paragraph.back(), L' ') << std::wstring(paragraph);
    }
}

TEST(AgreementText, HasHeadingIntroductionTenItemsAndClosing) {
    const auto paragraphs = Paragraphs(zv::AgreementText);
    ASSERT_EQ(paragraphs.size(), 15u);

    // The heading is framed by runs of asterisks with the title between them.
    const std::wstring_view heading = paragraphs[0];
    const size_t titleStart = heading.find_first_not_of(L'*');
    const size_t titleEnd = heading.find_last_not_of(L'*');
    ASSERT_NE(titleStart, std::wstring_view::npos);
    EXPECT_GE(titleStart, 3u);
    EXPECT_GE(heading.size() - 1 - titleEnd, 3u);
    EXPECT_NE(heading.substr(titleStart, titleEnd - titleStart + 1).find(L"AGREEMENT"), std::wstring_view::npos);

    for (size_t i = 1; i < paragraphs.size(); ++i) {
        const bool item = i >= 4 && i <= 13;
        EXPECT_EQ(StartsWith(paragraphs[i], L"- "), item) << "paragraph " << i;
        EXPECT_NE(paragraphs[i].front(), L'*') << "paragraph " << i;
    }
}

TEST(AgreementText, NamesTheProductAndItsLicensor) {
    const std::wstring_view text = zv::AgreementText;
    EXPECT_NE(text.find(L"Zarnovelle anti-cheat client"), std::wstring_view::npos);
    EXPECT_NE(text.find(L"Zarnovelle Software (the \"Licensor\")"), std::wstring_view::npos);
    // The buttons the text refers to are the window's own.
    EXPECT_NE(text.find(L"\"I Accept\""), std::wstring_view::npos);
    EXPECT_NE(text.find(L"\"Cancel\""), std::wstring_view::npos);
}

}  // namespace

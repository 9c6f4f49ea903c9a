// The language table and the choice of a row.
#include "language_table.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cwchar>
#include <set>
#include <string>

#include "tovik_website.h"

namespace tovik {
namespace {

struct RowCase {
  uint16_t languageId;
  int row;
  const char* why;
};

TEST(FindLanguageRow, PicksExactThenPrimaryThenFallback) {
  const RowCase cases[] = {
      {0x0409, 1, "English US, exact"},
      {0x0809, 1, "English UK, primary pass"},
      {0x0C04, 9, "Chinese Hong Kong: first Chinese row"},
      {0x1004, 9, "Chinese Singapore"},
      {0x1404, 9, "Chinese Macao"},
      {0x0404, 10, "Chinese Taiwan, exact"},
      {0x0804, 9, "Chinese PRC, exact"},
      {0x0816, 7, "Portuguese Portugal -> Brazilian row"},
      {0x040A, 2, "Spanish traditional sort -> es"},
      {0x080A, 2, "Spanish Mexico -> es"},
      {0x0406, 16, "Danish has no row"},
      {0x0000, 16, "neutral id matches the fallback exactly"},
      {0x0400, 16, "process default: primary 0 is in no row"},
      {0x0807, 0, "German Switzerland"},
      {0x0C0C, 3, "French Canada"},
      {0x081D, 14, "Swedish Finland"},
      {0xFFFF, 16, "no language at all"},
  };
  for (const RowCase& c : cases) {
    EXPECT_EQ(FindLanguageRow(c.languageId), c.row) << c.why;
  }
}

TEST(FindLanguageRow, EveryRowFindsItself) {
  for (int row = 0; row < kLanguageRowCount; ++row) {
    EXPECT_EQ(FindLanguageRow(static_cast<uint16_t>(kLanguageTable[row].languageId)), row) << row;
  }
}

// Mis-decoded UTF-8: a lead byte read as Latin-1 ("Ã", "Ð", ...) followed by a
// continuation byte read the same way (U+0080 to U+00BF), or a replacement
// character. What a source compiled with the wrong input charset shows.
bool LooksMisdecoded(const std::wstring& text) {
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == 0xFFFD) return true;
    if (i + 1 < text.size() && text[i] >= 0xC2 && text[i] <= 0xF4 && text[i + 1] >= 0x80 &&
        text[i + 1] <= 0xBF)
      return true;
  }
  return false;
}

// The short texts the screens show: there, decoded from the source as UTF-8,
// translated rather than copied from English, each row with a language of
// its own.
TEST(LanguageTable, ShortTextsArePresentDecodedAndTranslated) {
  std::set<std::string> codes;
  std::set<uint32_t> ids;
  const LanguageTexts& en = kLanguageTable[1];
  for (int row = 0; row < kLanguageRowCount; ++row) {
    const LanguageTexts& t = kLanguageTable[row];
    for (const wchar_t* text : {t.cancelLabel, t.pleaseWait, t.verifying, t.installingPrefix}) {
      EXPECT_GT(wcslen(text), 1u) << row;
      EXPECT_FALSE(LooksMisdecoded(text)) << row;
    }
    if (row == kFallbackLanguageRow) {
      EXPECT_STREQ(t.languageCode, "") << row;
      EXPECT_EQ(t.languageId, 0u) << row;
      continue;
    }
    EXPECT_TRUE(codes.insert(t.languageCode).second) << row;
    EXPECT_TRUE(ids.insert(t.languageId).second) << row;
    if (row != 1) EXPECT_NE(std::wstring(t.verifying), en.verifying) << row;
    // A row in a script of its own says so in its status line: a row that
    // got another language's texts does not.
    const struct {
      const char* code;
      wchar_t first, last;
    } scripts[] = {{"ja", 0x3040, 0x30FF}, {"ko", 0xAC00, 0xD7A3}, {"ru", 0x0400, 0x04FF},
                   {"zh-Hans", 0x4E00, 0x9FFF}, {"zh-Hant", 0x4E00, 0x9FFF}};
    for (const auto& script : scripts) {
      if (std::string(t.languageCode) != script.code) continue;
      const std::wstring verifying = t.verifying;
      EXPECT_TRUE(std::any_of(verifying.begin(), verifying.end(),
                              [&](wchar_t c) { return c >= script.first && c <= script.last; }))
          << script.code;
    }
  }
}

const std::wstring kSite = TOVIK_WEBSITE;

TEST(LanguageTable, EnglishLongTextsAreExact) {
  const LanguageTexts& en = kLanguageTable[1];
  EXPECT_EQ(std::wstring(en.runtimeMissing),
            L"This application requires a version of Tessaro Vantel which cannot be found.\n"
            L"Please download the latest version of the runtime from\n" + kSite + L"/go/getvantel,\n"
            L"or contact the application author for an updated version.");
  EXPECT_EQ(std::wstring(en.installFailed),
            L"Something went wrong trying to install this application.\n"
            L"Please install the latest version of Tessaro Vantel from\n" + kSite +
                L"/go/getvantel and then try again.");
  EXPECT_EQ(std::wstring(en.okLabel), L"OK");
  EXPECT_EQ(std::wstring(en.downloadFailed),
            L"Unable to download Tessaro Vantel. Make sure that you\u2019re connected to the network and try again.");
  EXPECT_EQ(std::wstring(en.validationFailed),
            L"Unable to validate the downloaded version of Tessaro Vantel.\n"
            L"Please install the latest version of Tessaro Vantel from\n" + kSite + L"/go/getvantel,\n"
            L"then retry installing this application.");
  EXPECT_EQ(std::wstring(en.updateUnavailable),
            L"This application requires an update to Tessaro Vantel that is not available for your system. "
            L"Please view the <a href='" + kSite + L"/go/vantel_sysreqs/'>system requirements</a> for "
            L"Tessaro Vantel and update your system accordingly.");
  EXPECT_EQ(std::wstring(en.updateBlocked),
            L"This application requires an update to Tessaro Vantel but downloading that update on your "
            L"system is not allowed by your administrator. Please contact your administrator.");
}

TEST(LanguageTable, FallbackRepeatsEveryEnglishText) {
  const LanguageTexts& en = kLanguageTable[1];
  const LanguageTexts& fb = kLanguageTable[16];
  const wchar_t* const a[] = {en.runtimeMissing, en.installFailed, en.okLabel, en.cancelLabel, en.pleaseWait,
                              en.downloadFailed, en.validationFailed, en.verifying, en.updateUnavailable,
                              en.installingPrefix, en.updateBlocked};
  const wchar_t* const b[] = {fb.runtimeMissing, fb.installFailed, fb.okLabel, fb.cancelLabel, fb.pleaseWait,
                              fb.downloadFailed, fb.validationFailed, fb.verifying, fb.updateUnavailable,
                              fb.installingPrefix, fb.updateBlocked};
  for (int i = 0; i < 11; ++i) EXPECT_EQ(std::wstring(a[i]), std::wstring(b[i])) << i;
}

size_t Count(const std::wstring& text, const std::wstring& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::wstring::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

// Translations keep the roles: one well-formed link to the row's own
// system-requirements page, the download page in the three messages that
// name it, and texts of their own rather than English copies.
TEST(LanguageTable, TranslationsKeepLinksAndAddresses) {
  const wchar_t* const suffixes[16] = {L"_de", L"", L"_es", L"_fr", L"_it", L"_ja", L"_ko", L"_pt",
                                       L"_ru", L"_cn", L"_tw", L"_cs", L"_nl", L"_pl", L"_sv", L"_tr"};
  for (int row = 0; row < 16; ++row) {
    const LanguageTexts& t = kLanguageTable[row];
    const std::wstring download = kSite + L"/go/getvantel" + suffixes[row];
    const std::wstring sysreqs = kSite + L"/go/vantel_sysreqs" + suffixes[row] + L"/";
    const std::wstring unavailable = t.updateUnavailable;
    EXPECT_EQ(Count(unavailable, L"<a href='"), 1u) << row;
    EXPECT_EQ(Count(unavailable, L"<a href='" + sysreqs + L"'>"), 1u) << row;
    EXPECT_EQ(Count(unavailable, L"</a>"), 1u) << row;
    EXPECT_LT(unavailable.find(L"'>"), unavailable.find(L"</a>")) << row;
    for (const wchar_t* text : {t.runtimeMissing, t.installFailed, t.validationFailed}) {
      EXPECT_EQ(Count(text, download), 1u) << row;
      EXPECT_EQ(Count(text, download + L"_"), 0u) << row;  // not a longer page name
    }
    EXPECT_EQ(Count(t.runtimeMissing, L"\n"), 3u) << row;
    EXPECT_EQ(Count(t.validationFailed, L"\n"), 3u) << row;
    EXPECT_EQ(Count(t.installFailed, L"\n"), 2u) << row;
    EXPECT_EQ(Count(t.updateBlocked, L"<a "), 0u) << row;
    if (row != 1) {
      EXPECT_NE(std::wstring(t.updateBlocked), kLanguageTable[1].updateBlocked) << row;
      EXPECT_NE(std::wstring(t.downloadFailed), kLanguageTable[1].downloadFailed) << row;
    }
  }
}

}  // namespace
}  // namespace tovik

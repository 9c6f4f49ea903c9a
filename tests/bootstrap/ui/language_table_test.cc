// The language table and the choice of a row.
#include "language_table.h"

#include <gtest/gtest.h>

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

TEST(LanguageTable, ShortTextsAreExact) {
  struct Short {
    const char* code;
    uint32_t id;
    const wchar_t* cancel;
    const wchar_t* wait;
    const wchar_t* verifying;
    const wchar_t* prefix;
  };
  const Short rows[kLanguageRowCount] = {
      {"de", 0x0407, L"Abbrechen", L"Bitte warten.", L"Download wird überprüft...", L"Installation von "},
      {"en", 0x0409, L"Cancel", L"Please wait.", L"Verifying download...", L"Installing "},
      {"es", 0x0C0A, L"Cancelar", L"Espere.", L"Verificando la descarga...", L"Instalando "},
      {"fr", 0x040C, L"Annuler", L"Veuillez patienter.", L"Téléchargement en cours de vérification...",
       L"Installation en cours "},
      {"it", 0x0410, L"Annulla", L"Attendete.", L"Verifica del download...", L"Installazione "},
      {"ja", 0x0411, L"キャンセル", L"お待ちください。", L"ダウンロードを確認しています...", L"インストール中："},
      {"ko", 0x0412, L"취소", L"잠시 기다려 주십시오.", L"다운로드 확인 중...", L"설치 중 "},
      {"pt", 0x0416, L"Cancelar", L"Aguarde.", L"Verificando o download...", L"Instalando  "},
      {"ru", 0x0419, L"Отмена", L"Подождите...", L"Проверка загрузки...", L"Установка..."},
      {"zh-Hans", 0x0804, L"取消", L"请稍候。", L"正在验证下载...", L"正在安装 "},
      {"zh-Hant", 0x0404, L"取消", L"請稍候。", L"正在驗證下載...", L"正在安裝  "},
      {"cs", 0x0405, L"Zrušit", L"Počkejte prosím.", L"Ověřování stažení...", L"Instalace… "},
      {"nl", 0x0413, L"Annuleren", L"Een ogenblik geduld...", L"Download controleren...", L"Installeren…"},
      {"pl", 0x0415, L"Anuluj", L"Czekaj.", L"Sprawdzanie poprawności pobranego pliku...", L"Instalowanie "},
      {"sv", 0x041D, L"Avbryt", L"Vänta.", L"Verifierar hämtning...", L"Installerar  "},
      {"tr", 0x041F, L"İptal", L"Lütfen bekleyin.", L"İndirme doğrulanıyor...", L"Yükleniyor "},
      {"", 0x0000, L"Cancel", L"Please wait.", L"Verifying download...", L"Installing "},
  };
  for (int row = 0; row < kLanguageRowCount; ++row) {
    const LanguageTexts& t = kLanguageTable[row];
    EXPECT_STREQ(t.languageCode, rows[row].code) << row;
    EXPECT_EQ(t.languageId, rows[row].id) << row;
    EXPECT_EQ(std::wstring(t.cancelLabel), rows[row].cancel) << row;
    EXPECT_EQ(std::wstring(t.pleaseWait), rows[row].wait) << row;
    EXPECT_EQ(std::wstring(t.verifying), rows[row].verifying) << row;
    EXPECT_EQ(std::wstring(t.installingPrefix), rows[row].prefix) << row;
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

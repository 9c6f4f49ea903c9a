#include "install_context.h"

#include "language_table.h"

namespace tovik {

wchar_t* CopyText(const wchar_t* text) {
  if (text == nullptr) return nullptr;
  const size_t bytes = (lstrlenW(text) + 1) * sizeof(wchar_t);
  auto* copy = static_cast<wchar_t*>(HeapAlloc(GetProcessHeap(), 0, bytes));
  if (copy != nullptr) CopyMemory(copy, text, bytes);
  return copy;
}

void CopyLanguageTexts(InstallContext& context, const LanguageTexts& row) {
  context.runtimeMissing = CopyText(row.runtimeMissing);
  context.cancelLabel = CopyText(row.cancelLabel);
  context.pleaseWait = CopyText(row.pleaseWait);
  context.validationFailed = CopyText(row.validationFailed);
  context.verifying = CopyText(row.verifying);
  context.updateUnavailable = CopyText(row.updateUnavailable);
  context.installingPrefix = CopyText(row.installingPrefix);
  context.updateBlocked = CopyText(row.updateBlocked);
}

void FillLanguageTexts(InstallContext& context) {
  const LANGID language = GetUserDefaultUILanguage();
  // Best effort: the texts come from the table whatever the locale call says.
  SetThreadLocale(MAKELCID(language, SORT_DEFAULT));
  CopyLanguageTexts(context, kLanguageTable[FindLanguageRow(language)]);
}

namespace {

void FreeText(wchar_t*& text) {
  if (text != nullptr) HeapFree(GetProcessHeap(), 0, text);
  text = nullptr;
}

}  // namespace

void ReleaseInstallContext(InstallContext& context) {
  // Best effort: a file that cannot be deleted stays; the run's result stands.
  ReleaseStoredInstaller(context.installer);
  FreeText(context.applicationPath);
  FreeText(context.runtimeMissing);
  FreeText(context.pleaseWait);
  FreeText(context.cancelLabel);
  FreeText(context.validationFailed);
  FreeText(context.verifying);
  FreeText(context.updateUnavailable);
  FreeText(context.installingPrefix);
  FreeText(context.updateBlocked);
}

}  // namespace tovik

#include "system_libraries.h"

#include <string.h>

namespace tovik {
namespace {

// Looks up a kernel32 export that older releases of the system lack.
FARPROC Kernel32Export(const char* name) {
  HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  return kernel != nullptr ? GetProcAddress(kernel, name) : nullptr;
}

template <typename Function>
bool Resolve(HMODULE module, const char* name, Function* slot) {
  *slot = reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
  return *slot != nullptr;
}

bool FillMsi(MsiFunctions* table) {
  HMODULE msi = LoadSystemLibrary(L"msi.dll");
  // By ordinal, which every release of the library keeps for this function.
  return msi != nullptr && Resolve(msi, MAKEINTRESOURCEA(90), &table->locateComponent);
}

bool FillVersion(VersionFunctions* table) {
  HMODULE version = LoadSystemLibrary(L"version.dll");
  return version != nullptr &&
         Resolve(version, "GetFileVersionInfoSizeW", &table->getFileVersionInfoSize) &&
         Resolve(version, "GetFileVersionInfoW", &table->getFileVersionInfo) &&
         Resolve(version, "VerQueryValueW", &table->verQueryValue);
}

bool FillWininet(WininetFunctions* table) {
  HMODULE net = LoadSystemLibrary(L"wininet.dll");
  return net != nullptr && Resolve(net, "HttpAddRequestHeadersA", &table->httpAddRequestHeaders) &&
         Resolve(net, "HttpEndRequestA", &table->httpEndRequest) &&
         Resolve(net, "HttpOpenRequestA", &table->httpOpenRequest) &&
         Resolve(net, "HttpQueryInfoA", &table->httpQueryInfo) &&
         Resolve(net, "HttpSendRequestExA", &table->httpSendRequestEx) &&
         Resolve(net, "InternetCloseHandle", &table->internetCloseHandle) &&
         Resolve(net, "InternetCombineUrlA", &table->internetCombineUrl) &&
         Resolve(net, "InternetConnectA", &table->internetConnect) &&
         Resolve(net, "InternetCrackUrlA", &table->internetCrackUrl) &&
         Resolve(net, "InternetErrorDlg", &table->internetErrorDlg) &&
         Resolve(net, "InternetOpenA", &table->internetOpen) &&
         Resolve(net, "InternetQueryDataAvailable", &table->internetQueryDataAvailable) &&
         Resolve(net, "InternetReadFile", &table->internetReadFile) &&
         Resolve(net, "InternetSetOptionA", &table->internetSetOption);
}

bool FillCrypt32(Crypt32Functions* table) {
  HMODULE crypt = LoadSystemLibrary(L"crypt32.dll");
  return crypt != nullptr && Resolve(crypt, "CertCloseStore", &table->certCloseStore) &&
         Resolve(crypt, "CertCompareCertificate", &table->certCompareCertificate) &&
         Resolve(crypt, "CertCompareCertificateName", &table->certCompareCertificateName) &&
         Resolve(crypt, "CertCreateCRLContext", &table->certCreateCrlContext) &&
         Resolve(crypt, "CertCreateCertificateContext", &table->certCreateCertificateContext) &&
         Resolve(crypt, "CertDuplicateCertificateContext", &table->certDuplicateCertificateContext) &&
         Resolve(crypt, "CertFindCertificateInStore", &table->certFindCertificateInStore) &&
         Resolve(crypt, "CertFindExtension", &table->certFindExtension) &&
         Resolve(crypt, "CertFreeCRLContext", &table->certFreeCrlContext) &&
         Resolve(crypt, "CertFreeCertificateContext", &table->certFreeCertificateContext) &&
         Resolve(crypt, "CertGetNameStringW", &table->certGetNameString) &&
         Resolve(crypt, "CertGetSubjectCertificateFromStore", &table->certGetSubjectCertificateFromStore) &&
         Resolve(crypt, "CertOIDToAlgId", &table->certOidToAlgId) &&
         Resolve(crypt, "CertOpenStore", &table->certOpenStore) &&
         Resolve(crypt, "CertVerifyCRLRevocation", &table->certVerifyCrlRevocation) &&
         Resolve(crypt, "CertVerifySubjectCertificateContext", &table->certVerifySubjectCertificateContext) &&
         Resolve(crypt, "CryptDecodeObjectEx", &table->cryptDecodeObjectEx) &&
         Resolve(crypt, "CryptEncodeObjectEx", &table->cryptEncodeObjectEx) &&
         Resolve(crypt, "CryptGetMessageCertificates", &table->cryptGetMessageCertificates) &&
         Resolve(crypt, "CryptImportPublicKeyInfo", &table->cryptImportPublicKeyInfo) &&
         Resolve(crypt, "CryptMsgClose", &table->cryptMsgClose) &&
         Resolve(crypt, "CryptMsgGetParam", &table->cryptMsgGetParam) &&
         Resolve(crypt, "CryptMsgOpenToDecode", &table->cryptMsgOpenToDecode) &&
         Resolve(crypt, "CryptMsgUpdate", &table->cryptMsgUpdate) &&
         Resolve(crypt, "CryptVerifyCertificateSignatureEx", &table->cryptVerifyCertificateSignatureEx);
}

bool FillCryptnet(CryptnetFunctions* table) {
  HMODULE cryptnet = LoadSystemLibrary(L"cryptnet.dll");
  return cryptnet != nullptr && Resolve(cryptnet, "CryptGetObjectUrl", &table->cryptGetObjectUrl) &&
         Resolve(cryptnet, "CryptRetrieveObjectByUrlW", &table->cryptRetrieveObjectByUrl);
}

template <typename Table, bool (*Fill)(Table*)>
BOOL CALLBACK FillOnce(INIT_ONCE*, void* table, void** context) {
  *context = Fill(static_cast<Table*>(table)) ? table : nullptr;
  return TRUE;
}

// `table` filled by Fill on the first call for this `once`, or null when that
// failed; later calls only read the answer.
template <typename Table, bool (*Fill)(Table*)>
const Table* LoadOnce(INIT_ONCE* once, Table* table) {
  void* context = nullptr;
  // A once that cannot run leaves the context null: the table reads as missing.
  InitOnceExecuteOnce(once, FillOnce<Table, Fill>, table, &context);
  return static_cast<const Table*>(context);
}

}  // namespace

void RestrictLibrarySearch() {
  using SetDllDirectoryFn = BOOL(WINAPI*)(const wchar_t*);
  using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
  // Best effort: each step narrows the search further where the system
  // offers it; an older system simply keeps its default order.
  if (auto setDllDirectory = reinterpret_cast<SetDllDirectoryFn>(
          reinterpret_cast<void*>(Kernel32Export("SetDllDirectoryW")))) {
    setDllDirectory(L"");  // takes the current folder out of the search order
  }
  if (auto setDefaultDllDirectories = reinterpret_cast<SetDefaultDllDirectoriesFn>(
          reinterpret_cast<void*>(Kernel32Export("SetDefaultDllDirectories")))) {
    setDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
  }
}

HMODULE LoadSystemLibrary(const wchar_t* name) {
  wchar_t path[MAX_PATH];
  const UINT length = GetSystemDirectoryW(path, MAX_PATH);
  const size_t nameLength = wcslen(name);
  // The folder, a backslash, the name and the terminator must fit.
  if (length == 0 || length + nameLength + 2 > MAX_PATH) return nullptr;
  path[length] = L'\\';
  memcpy(path + length + 1, name, (nameLength + 1) * sizeof(wchar_t));
  // The altered search path takes the library's own imports from the system
  // folder too, also where SetDefaultDllDirectories is missing.
  return LoadLibraryExW(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

const MsiFunctions* LoadMsi() {
  static INIT_ONCE once = INIT_ONCE_STATIC_INIT;
  static MsiFunctions table;
  return LoadOnce<MsiFunctions, FillMsi>(&once, &table);
}

const VersionFunctions* LoadVersion() {
  static INIT_ONCE once = INIT_ONCE_STATIC_INIT;
  static VersionFunctions table;
  return LoadOnce<VersionFunctions, FillVersion>(&once, &table);
}

const WininetFunctions* LoadWininet() {
  static INIT_ONCE once = INIT_ONCE_STATIC_INIT;
  static WininetFunctions table;
  return LoadOnce<WininetFunctions, FillWininet>(&once, &table);
}

const Crypt32Functions* LoadCrypt32() {
  static INIT_ONCE once = INIT_ONCE_STATIC_INIT;
  static Crypt32Functions table;
  return LoadOnce<Crypt32Functions, FillCrypt32>(&once, &table);
}

const CryptnetFunctions* LoadCryptnet() {
  static INIT_ONCE once = INIT_ONCE_STATIC_INIT;
  static CryptnetFunctions table;
  return LoadOnce<CryptnetFunctions, FillCryptnet>(&once, &table);
}

}  // namespace tovik

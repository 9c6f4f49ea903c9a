// The system libraries that tovik calls but does not import. Every library
// in the import table loads before tovik's first instruction, found by the
// default search, which starts in tovik's own folder: a download folder
// that may hold strangers' files. So tovik imports only libraries that the
// system always takes from its own folder (kernel32, user32, gdi32,
// advapi32, shell32, shlwapi, ole32, oleaut32, msvcrt; comctl32 through the
// manifest); the others are loaded here by full path from the system folder
// when first needed and called through these tables. The image check
// pe_tovik (tests/CMakeLists.txt) holds the import table to that list.
#pragma once

#include <windows.h>

#include <msi.h>
#include <wincrypt.h>
#include <wininet.h>

namespace tovik {

// Narrows library loading for the whole process to the system folder: the
// current folder leaves the search and, where the system offers it, the
// default search becomes the system folder alone. Call first in the entry.
// Best effort: an older system keeps its default order for later loads.
void RestrictLibrarySearch();

// Loads `name` (a bare file name) by its full path in the system folder; the
// libraries it imports are searched from there too. The module, which stays
// loaded for the life of the process, or null when the folder or the library
// cannot be had.
HMODULE LoadSystemLibrary(const wchar_t* name);

// msi.dll
struct MsiFunctions {
  decltype(&::MsiLocateComponentW) locateComponent;  // ordinal 90
};

// version.dll
struct VersionFunctions {
  decltype(&::GetFileVersionInfoSizeW) getFileVersionInfoSize;
  decltype(&::GetFileVersionInfoW) getFileVersionInfo;
  decltype(&::VerQueryValueW) verQueryValue;
};

// wininet.dll
struct WininetFunctions {
  decltype(&::HttpAddRequestHeadersA) httpAddRequestHeaders;
  decltype(&::HttpEndRequestA) httpEndRequest;
  decltype(&::HttpOpenRequestA) httpOpenRequest;
  decltype(&::HttpQueryInfoA) httpQueryInfo;
  decltype(&::HttpSendRequestExA) httpSendRequestEx;
  decltype(&::InternetCloseHandle) internetCloseHandle;
  decltype(&::InternetCombineUrlA) internetCombineUrl;
  decltype(&::InternetConnectA) internetConnect;
  decltype(&::InternetCrackUrlA) internetCrackUrl;
  decltype(&::InternetErrorDlg) internetErrorDlg;
  decltype(&::InternetOpenA) internetOpen;
  decltype(&::InternetQueryDataAvailable) internetQueryDataAvailable;
  decltype(&::InternetReadFile) internetReadFile;
  decltype(&::InternetSetOptionA) internetSetOption;
};

// crypt32.dll
struct Crypt32Functions {
  decltype(&::CertCloseStore) certCloseStore;
  decltype(&::CertCompareCertificate) certCompareCertificate;
  decltype(&::CertCompareCertificateName) certCompareCertificateName;
  decltype(&::CertCreateCRLContext) certCreateCrlContext;
  decltype(&::CertCreateCertificateContext) certCreateCertificateContext;
  decltype(&::CertDuplicateCertificateContext) certDuplicateCertificateContext;
  decltype(&::CertFindCertificateInStore) certFindCertificateInStore;
  decltype(&::CertFindExtension) certFindExtension;
  decltype(&::CertFreeCRLContext) certFreeCrlContext;
  decltype(&::CertFreeCertificateContext) certFreeCertificateContext;
  decltype(&::CertGetNameStringW) certGetNameString;
  decltype(&::CertGetSubjectCertificateFromStore) certGetSubjectCertificateFromStore;
  decltype(&::CertOIDToAlgId) certOidToAlgId;
  decltype(&::CertOpenStore) certOpenStore;
  decltype(&::CertVerifyCRLRevocation) certVerifyCrlRevocation;
  decltype(&::CertVerifySubjectCertificateContext) certVerifySubjectCertificateContext;
  decltype(&::CryptDecodeObjectEx) cryptDecodeObjectEx;
  decltype(&::CryptEncodeObjectEx) cryptEncodeObjectEx;
  decltype(&::CryptGetMessageCertificates) cryptGetMessageCertificates;
  decltype(&::CryptImportPublicKeyInfo) cryptImportPublicKeyInfo;
  decltype(&::CryptMsgClose) cryptMsgClose;
  decltype(&::CryptMsgGetParam) cryptMsgGetParam;
  decltype(&::CryptMsgOpenToDecode) cryptMsgOpenToDecode;
  decltype(&::CryptMsgUpdate) cryptMsgUpdate;
  decltype(&::CryptVerifyCertificateSignatureEx) cryptVerifyCertificateSignatureEx;
};

// cryptnet.dll
struct CryptnetFunctions {
  decltype(&::CryptGetObjectUrl) cryptGetObjectUrl;
  decltype(&::CryptRetrieveObjectByUrlW) cryptRetrieveObjectByUrl;
};

// Each loads its library on the first call (once per process, from any
// thread) and resolves every function of its table. The filled table, or
// null when the library or any one of its functions cannot be had; the
// answer stays the same for the life of the process. A caller turns null
// into the failure its step reports when the system call itself fails.
const MsiFunctions* LoadMsi();
const VersionFunctions* LoadVersion();
const WininetFunctions* LoadWininet();
const Crypt32Functions* LoadCrypt32();
const CryptnetFunctions* LoadCryptnet();

}  // namespace tovik

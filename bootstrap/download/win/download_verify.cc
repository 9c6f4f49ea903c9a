// Signature and certificate-chain verification of the download worker.
#include <windows.h>
#include <wincrypt.h>

#include <string.h>

#include "download_helper.h"
#include "download_limits.h"
#include "http_transfer.h"
#include "log.h"
#include "root_certificate.h"
#include "signer_rules.h"
#include "system_libraries.h"

namespace tovik {

namespace {

constexpr DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
constexpr DWORD kLinkFlags = CERT_STORE_SIGNATURE_FLAG | CERT_STORE_TIME_VALIDITY_FLAG;
constexpr DWORD kCrlTimeoutMs = 5000;
constexpr int kLoggedAddressBytes = 260;

// The functions of crypt32 and cryptnet. The public members below first make
// sure that they can be had, and fail as their contracts say when not; the
// helpers here run only below them.
const Crypt32Functions& Crypt32() { return *LoadCrypt32(); }
const CryptnetFunctions& Cryptnet() { return *LoadCryptnet(); }

// `subject` is signed by `issuer`'s key and inside its validity period now.
bool PassesLinkTest(PCCERT_CONTEXT subject, PCCERT_CONTEXT issuer) {
  const Crypt32Functions& crypt = Crypt32();
  DWORD flags = kLinkFlags;
  return crypt.certVerifySubjectCertificateContext(subject, issuer, &flags) && flags == 0;
}

// The address as UTF-8 in at most 259 bytes plus the terminator; a longer
// one is cut at a character boundary.
void AddressForLog(const wchar_t* address, char* out) {
  // Every character takes at least one byte, so nothing longer can fit.
  int length = static_cast<int>(wcsnlen(address, kLoggedAddressBytes - 1));
  for (; length > 0; --length) {
    if (IS_HIGH_SURROGATE(address[length - 1])) continue;  // never split a pair
    int needed = WideCharToMultiByte(CP_UTF8, 0, address, length, nullptr, 0, nullptr, nullptr);
    if (needed > 0 && needed < kLoggedAddressBytes) {
      int written = WideCharToMultiByte(CP_UTF8, 0, address, length, out, kLoggedAddressBytes - 1, nullptr, nullptr);
      out[written > 0 ? written : 0] = '\0';
      return;
    }
  }
  out[0] = '\0';
}

// A message parameter in a process-heap block (free with HeapFree); null
// when the message has none.
void* GetMessageParam(HCRYPTMSG message, DWORD type, DWORD index, DWORD* size) {
  const Crypt32Functions& crypt = Crypt32();
  *size = 0;
  if (!crypt.cryptMsgGetParam(message, type, index, nullptr, size) || *size == 0) return nullptr;
  void* value = HeapAlloc(GetProcessHeap(), 0, *size);
  if (value != nullptr && !crypt.cryptMsgGetParam(message, type, index, value, size)) {
    HeapFree(GetProcessHeap(), 0, value);
    value = nullptr;
  }
  return value;
}

// A hash of `algorithm` over `bytes` (null with 0 bytes: nothing hashed
// yet), or 0.
HCRYPTHASH NewHash(HCRYPTPROV provider, ALG_ID algorithm, const BYTE* bytes, DWORD size) {
  HCRYPTHASH hash = 0;
  if (!CryptCreateHash(provider, algorithm, 0, 0, &hash)) return 0;
  if (size != 0 && !CryptHashData(hash, bytes, size, 0)) {
    CryptDestroyHash(hash);
    return 0;
  }
  return hash;
}

// The digest of the installer's bytes with `algorithm` into `digest`: the
// one taken while they arrived when it is SHA-256, else one pass over them.
bool ContentDigest(HCRYPTPROV provider, ALG_ID algorithm, const DownloadBuffer* installer, BYTE* digest,
                   DWORD* size) {
  const BYTE* content = installer != nullptr ? installer->data : nullptr;
  const DWORD contentSize = content != nullptr ? installer->size : 0;
  if (algorithm == CALG_SHA_256 && installer != nullptr && installer->hashed && installer->size == contentSize) {
    memcpy(digest, installer->sha256, sizeof(installer->sha256));
    *size = sizeof(installer->sha256);
    return true;
  }
  HCRYPTHASH hash = NewHash(provider, algorithm, content, contentSize);
  if (hash == 0) return false;
  bool got = CryptGetHashParam(hash, HP_HASHVAL, digest, size, 0) != FALSE;
  CryptDestroyHash(hash);
  return got;
}

// The message-digest attribute among the signed attributes equals `digest`
// (exactly one such attribute, with exactly one value).
bool SignedDigestMatches(const CRYPT_ATTRIBUTES* attributes, const BYTE* digest, DWORD digestSize) {
  const Crypt32Functions& crypt = Crypt32();
  const CRYPT_ATTRIBUTE* found = nullptr;
  for (DWORD i = 0; i < attributes->cAttr; ++i) {
    const CRYPT_ATTRIBUTE& a = attributes->rgAttr[i];
    if (a.pszObjId != nullptr && strcmp(a.pszObjId, szOID_PKCS_9_MESSAGE_DIGEST) == 0) {
      if (found != nullptr || a.cValue != 1) return false;
      found = &a;
    }
  }
  if (found == nullptr) return false;
  CRYPT_DATA_BLOB* value = nullptr;
  DWORD size = 0;
  if (!crypt.cryptDecodeObjectEx(kEncoding, X509_OCTET_STRING, found->rgValue[0].pbData, found->rgValue[0].cbData,
                           CRYPT_DECODE_ALLOC_FLAG, nullptr, &value, &size)) {
    return false;
  }
  bool matches = value->cbData == digestSize && digestSize != 0 && memcmp(value->pbData, digest, digestSize) == 0;
  LocalFree(value);
  return matches;
}

// The detached signature's first signer: its certificate (taken from those
// the signature carries) and its signature over exactly the installer's
// bytes. The installer is never handed to the message functions, which may
// copy it whole: its digest (taken as it arrived, or in one pass) is compared
// with the signed message digest, and the signature is checked over the
// signed attributes, or over that digest when there are none. On success
// *signer is the signer's certificate, owned by the caller.
bool VerifySignerSignature(const DownloadBuffer* signature, const DownloadBuffer* installer,
                           PCCERT_CONTEXT* signer) {
  *signer = nullptr;
  const Crypt32Functions& crypt = Crypt32();
  HANDLE heap = GetProcessHeap();
  HCRYPTMSG message = crypt.cryptMsgOpenToDecode(kEncoding, CMSG_DETACHED_FLAG, 0, 0, nullptr, nullptr);
  if (message == nullptr) return false;
  HCERTSTORE store = nullptr;
  HCRYPTPROV provider = 0;
  HCRYPTKEY key = 0;
  HCRYPTHASH signedHash = 0;
  CERT_INFO* signerId = nullptr;
  CMSG_SIGNER_INFO* info = nullptr;
  BYTE* encrypted = nullptr;
  BYTE* encodedAttributes = nullptr;
  bool verified = false;
  do {
    if (!crypt.cryptMsgUpdate(message, signature->data, signature->size, TRUE)) break;
    DWORD type = 0;
    DWORD size = sizeof(type);
    if (!crypt.cryptMsgGetParam(message, CMSG_TYPE_PARAM, 0, &type, &size) || type != CMSG_SIGNED) break;
    signerId = static_cast<CERT_INFO*>(GetMessageParam(message, CMSG_SIGNER_CERT_INFO_PARAM, 0, &size));
    info = static_cast<CMSG_SIGNER_INFO*>(GetMessageParam(message, CMSG_SIGNER_INFO_PARAM, 0, &size));
    if (signerId == nullptr || info == nullptr || info->EncryptedHash.cbData == 0) break;
    const DWORD encryptedSize = info->EncryptedHash.cbData;
    encrypted = static_cast<BYTE*>(HeapAlloc(heap, 0, encryptedSize));
    if (encrypted == nullptr) break;
    store = crypt.certOpenStore(CERT_STORE_PROV_MSG, kEncoding, 0, 0, message);
    if (store == nullptr) break;
    *signer = crypt.certGetSubjectCertificateFromStore(store, kEncoding, signerId);
    if (*signer == nullptr) break;

    const ALG_ID algorithm = crypt.certOidToAlgId(info->HashAlgorithm.pszObjId);
    if (algorithm != CALG_SHA_256 && algorithm != CALG_SHA_384 && algorithm != CALG_SHA_512 &&
        algorithm != CALG_SHA1) {
      break;
    }
    if (!CryptAcquireContextW(&provider, nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT)) break;
    BYTE digest[64];
    DWORD digestSize = sizeof(digest);
    if (!ContentDigest(provider, algorithm, installer, digest, &digestSize)) break;

    const CRYPT_ATTRIBUTES* attributes = &info->AuthAttrs;
    if (attributes->cAttr != 0) {
      // The signature covers the attributes (DER, as a SET OF), and the
      // content only through their message digest.
      if (!SignedDigestMatches(attributes, digest, digestSize)) break;
      DWORD encodedSize = 0;
      if (!crypt.cryptEncodeObjectEx(kEncoding, PKCS_ATTRIBUTES, const_cast<CRYPT_ATTRIBUTES*>(attributes),
                               CRYPT_ENCODE_ALLOC_FLAG, nullptr,
                               &encodedAttributes, &encodedSize)) {
        break;
      }
      signedHash = NewHash(provider, algorithm, encodedAttributes, encodedSize);
    } else {
      signedHash = NewHash(provider, algorithm, nullptr, 0);
      if (signedHash != 0 && !CryptSetHashParam(signedHash, HP_HASHVAL, digest, 0)) {
        CryptDestroyHash(signedHash);
        signedHash = 0;
      }
    }
    if (signedHash == 0) break;
    if (!crypt.cryptImportPublicKeyInfo(provider, kEncoding, &(*signer)->pCertInfo->SubjectPublicKeyInfo, &key)) break;
    // The message holds the signature big-endian; the key functions take it
    // the other way round.
    for (DWORD i = 0; i < encryptedSize; ++i) encrypted[i] = info->EncryptedHash.pbData[encryptedSize - 1 - i];
    verified = CryptVerifySignatureW(signedHash, encrypted, encryptedSize, key, nullptr, 0) != FALSE;
  } while (false);
  if (signedHash != 0) CryptDestroyHash(signedHash);
  if (key != 0) CryptDestroyKey(key);
  if (provider != 0) CryptReleaseContext(provider, 0);
  if (encodedAttributes != nullptr) LocalFree(encodedAttributes);
  if (encrypted != nullptr) HeapFree(heap, 0, encrypted);
  if (info != nullptr) HeapFree(heap, 0, info);
  if (signerId != nullptr) HeapFree(heap, 0, signerId);
  if (store != nullptr) crypt.certCloseStore(store, 0);
  crypt.cryptMsgClose(message);
  if (!verified && *signer != nullptr) {
    crypt.certFreeCertificateContext(*signer);
    *signer = nullptr;
  }
  return verified;
}

// `cert` may issue certificates with `below` certificates (not counting
// the signer and self-issued ones) between it and the signer: basic
// constraints say it is a CA, their path-length limit (if any) allows that
// many, and its key usage, where present, includes certificate signing.
bool IsCertificateAuthority(PCCERT_CONTEXT cert, DWORD below) {
  const Crypt32Functions& crypt = Crypt32();
  const CERT_INFO* info = cert->pCertInfo;
  PCERT_EXTENSION constraints = crypt.certFindExtension(szOID_BASIC_CONSTRAINTS2, info->cExtension, info->rgExtension);
  if (constraints == nullptr) return false;
  CERT_BASIC_CONSTRAINTS2_INFO basic = {};
  DWORD size = sizeof(basic);
  if (!crypt.cryptDecodeObjectEx(kEncoding, X509_BASIC_CONSTRAINTS2, constraints->Value.pbData, constraints->Value.cbData,
                           0, nullptr, &basic, &size) ||
      !basic.fCA) {
    return false;
  }
  if (basic.fPathLenConstraint && below > basic.dwPathLenConstraint) return false;
  PCERT_EXTENSION usage = crypt.certFindExtension(szOID_KEY_USAGE, info->cExtension, info->rgExtension);
  if (usage == nullptr) return true;
  CRYPT_BIT_BLOB* bits = nullptr;
  size = 0;
  // A key usage that cannot be read grants nothing.
  if (!crypt.cryptDecodeObjectEx(kEncoding, X509_KEY_USAGE, usage->Value.pbData, usage->Value.cbData,
                           CRYPT_DECODE_ALLOC_FLAG, nullptr, &bits, &size)) {
    return false;
  }
  bool signsCertificates = bits->cbData >= 1 && (bits->pbData[0] & CERT_KEY_CERT_SIGN_KEY_USAGE) != 0;
  LocalFree(bits);
  return signsCertificates;
}

bool IsSelfIssued(PCCERT_CONTEXT cert) {
  const Crypt32Functions& crypt = Crypt32();
  return crypt.certCompareCertificateName(kEncoding, &cert->pCertInfo->Subject, &cert->pCertInfo->Issuer) != FALSE;
}

bool IsCancelled(const volatile LONG* step) { return step != nullptr && *step == Finished; }

// The bytes of the CRL at `address` (http or https), fetched within the CRL
// bounds: at most crlCeiling bytes, announced or not, and crlTotalMs for
// the whole transfer however slowly the bytes come. A process-heap block
// (*size bytes) or null when the transfer failed, hit a bound, answered
// other than 2xx, or was cancelled through `step`.
BYTE* FetchCrlBytes(const HttpAddress& address, const volatile LONG* step, DWORD* size) {
  const DownloadLimits& limits = ActiveDownloadLimits();
  HttpTransfer transfer({limits.connectTimeoutMs, limits.sendTimeoutMs, limits.receiveTimeoutMs,
                         limits.crlTotalMs, limits.maxRedirects});
  if (transfer.Open(address.host, address.port, address.secure, address.path) != HttpTransfer::kOk)
    return nullptr;
  const DWORD ceiling = limits.crlCeiling;
  // A refused answer is given up unread, as the download's are.
  if (transfer.status() < 200 || transfer.status() > 299 ||
      (transfer.hasLength() && transfer.length() > ceiling)) {
    transfer.Discard();
    return nullptr;
  }
  // Grown as the bytes come when the length is not announced.
  DWORD capacity = transfer.hasLength() ? static_cast<DWORD>(transfer.length()) : 65536;
  if (capacity == 0) return nullptr;
  if (capacity > ceiling) capacity = ceiling;
  HANDLE heap = GetProcessHeap();
  BYTE* data = static_cast<BYTE*>(HeapAlloc(heap, 0, capacity));
  DWORD received = 0;
  bool complete = false;
  while (data != nullptr && !IsCancelled(step)) {
    if (received == capacity) {
      if (capacity == ceiling) {
        // Full at the ceiling: anything more is too much.
        BYTE probe;
        DWORD got = 0;
        complete = transfer.Read(&probe, 1, &got) == HttpTransfer::kOk && got == 0;
        break;
      }
      DWORD grown = capacity <= ceiling / 2 ? capacity * 2 : ceiling;
      BYTE* larger = static_cast<BYTE*>(HeapReAlloc(heap, 0, data, grown));
      if (larger == nullptr) break;
      data = larger;
      capacity = grown;
    }
    DWORD want = capacity - received;
    if (want > 32768) want = 32768;
    DWORD got = 0;
    if (transfer.Read(data + received, want, &got) != HttpTransfer::kOk) break;
    if (got == 0) {
      complete = true;
      break;
    }
    received += got;
  }
  if (!complete || received == 0) {
    if (data != nullptr) HeapFree(heap, 0, data);
    return nullptr;
  }
  *size = received;
  return data;
}

// The CRL at `url`, retrieved from the network only; null when it could not
// be. Addresses over HTTP are fetched within the CRL bounds; others are left
// to the platform's retrieval with its time-out.
PCCRL_CONTEXT RetrieveCrl(const wchar_t* url, const volatile LONG* step) {
  const Crypt32Functions& crypt = Crypt32();
  const CryptnetFunctions& cryptnet = Cryptnet();
  char narrow[2048];
  int length = WideCharToMultiByte(CP_UTF8, 0, url, -1, narrow, sizeof(narrow), nullptr, nullptr);
  HttpAddress address;
  const AddressKind kind = length > 0 ? SplitHttpAddress(narrow, &address) : AddressKind::kNotHttp;
  if (kind == AddressKind::kUnusable) return nullptr;
  if (kind == AddressKind::kHttp) {
    DWORD size = 0;
    BYTE* bytes = FetchCrlBytes(address, step, &size);
    if (bytes == nullptr) return nullptr;
    PCCRL_CONTEXT crl = crypt.certCreateCrlContext(kEncoding, bytes, size);
    HeapFree(GetProcessHeap(), 0, bytes);
    return crl;
  }
  void* object = nullptr;
  if (!cryptnet.cryptRetrieveObjectByUrl(url, CONTEXT_OID_CRL, CRYPT_WIRE_ONLY_RETRIEVAL, kCrlTimeoutMs, &object, nullptr,
                                 nullptr, nullptr, nullptr)) {
    return nullptr;
  }
  return static_cast<PCCRL_CONTEXT>(object);
}

enum Revocation { kNotRevoked, kRevoked, kCancelled };

Revocation CheckRevocation(PCCERT_CONTEXT cert, PCCERT_CONTEXT issuer, DownloadHelper::CrlBudget* budget) {
  const Crypt32Functions& crypt = Crypt32();
  PCRL_INFO* crls = nullptr;
  PCCRL_CONTEXT* contexts = nullptr;
  DWORD count = 0;
  // Without a CRL the certificate counts as not revoked.
  bool any = DownloadHelper::RetrieveCrls(cert, issuer, budget, &crls, &contexts, &count);
  if (IsCancelled(budget->step)) {
    if (any) DownloadHelper::FreeCrls(crls, contexts, count);
    return kCancelled;
  }
  if (!any) return kNotRevoked;
  bool revoked = !crypt.certVerifyCrlRevocation(kEncoding, cert->pCertInfo, count, crls);
  DownloadHelper::FreeCrls(crls, contexts, count);
  return revoked ? kRevoked : kNotRevoked;
}

// The CRL names `issuer` as its issuer and carries a signature by its key.
bool IsIssuedBy(PCCRL_CONTEXT crl, PCCERT_CONTEXT issuer) {
  const Crypt32Functions& crypt = Crypt32();
  return crypt.certCompareCertificateName(kEncoding, &crl->pCrlInfo->Issuer, &issuer->pCertInfo->Subject) &&
         crypt.cryptVerifyCertificateSignatureEx(0, kEncoding, CRYPT_VERIFY_CERT_SIGN_SUBJECT_CRL,
                                           const_cast<CRL_CONTEXT*>(crl), CRYPT_VERIFY_CERT_SIGN_ISSUER_CERT,
                                           const_cast<CERT_CONTEXT*>(issuer), 0, nullptr);
}

bool PassesAnchorTest(PCCERT_CONTEXT top, DWORD below) {
  const Crypt32Functions& crypt = Crypt32();
  PCCERT_CONTEXT anchor = crypt.certCreateCertificateContext(kEncoding, kRootCertificate,
                                                       static_cast<DWORD>(kRootCertificateSize));
  if (anchor == nullptr) return false;
  bool passed = PassesLinkTest(top, anchor) && IsCertificateAuthority(anchor, below);
  crypt.certFreeCertificateContext(anchor);
  return passed;
}

}  // namespace

bool DownloadHelper::VerifyDetachedSignature(const DownloadBuffer* installer, const DownloadBuffer* signature,
                                             const volatile LONG* step) {
  // Without crypt32 nothing can be verified: the signature test fails.
  if (LoadCrypt32() == nullptr) {
    LogSignatureFailed("Detatched");
    return false;
  }
  const Crypt32Functions& crypt = Crypt32();
  PCCERT_CONTEXT signer = nullptr;
  bool verified = signature != nullptr && signature->data != nullptr && signature->size != 0 &&
                  VerifySignerSignature(signature, installer, &signer);
  if (!verified) {
    if (signer != nullptr) crypt.certFreeCertificateContext(signer);
    LogSignatureFailed("Detatched");
    return false;
  }
  if (signer == nullptr) {
    LogSignatureFailed("Detached");
    return false;
  }
  if (!VerifyEKU(signer) || !VerifySignerName(signer)) {
    LogSignatureFailed("Detached");
    crypt.certFreeCertificateContext(signer);
    return false;
  }
  LogSignatureVerified("Detached");
  bool trusted = VerifyCertChain(signature, signer, step);
  crypt.certFreeCertificateContext(signer);
  return trusted;
}

bool DownloadHelper::VerifyEKU(PCCERT_CONTEXT cert) {
  if (LoadCrypt32() == nullptr) return false;
  const Crypt32Functions& crypt = Crypt32();
  const CERT_INFO* info = cert->pCertInfo;
  if (info->cExtension < static_cast<DWORD>(kSignerMinExtensions)) return false;
  bool listed = false;
  // Every extension is visited, even after a match.
  for (DWORD i = 0; i < info->cExtension; ++i) {
    const CERT_EXTENSION& extension = info->rgExtension[i];
    if (extension.pszObjId == nullptr || strcmp(extension.pszObjId, szOID_ENHANCED_KEY_USAGE) != 0) continue;
    CERT_ENHKEY_USAGE* usage = nullptr;
    DWORD size = 0;
    if (!crypt.cryptDecodeObjectEx(kEncoding, X509_ENHANCED_KEY_USAGE, extension.Value.pbData, extension.Value.cbData,
                             CRYPT_DECODE_ALLOC_FLAG, nullptr, &usage, &size)) {
      continue;
    }
    for (DWORD j = 0; j < usage->cUsageIdentifier; ++j) {
      // Exact text comparison: the decoder writes identifiers as digits and points.
      if (usage->rgpszUsageIdentifier[j] != nullptr && strcmp(usage->rgpszUsageIdentifier[j], kMakerUsage) == 0) {
        listed = true;
        break;
      }
    }
    LocalFree(usage);
  }
  return listed;
}

bool DownloadHelper::VerifySignerName(PCCERT_CONTEXT cert) {
  // In order; the first mismatch ends the test.
  for (const SignerNameRule& rule : kSignerName) {
    if (!VerifyDNField(cert, rule.oid, rule.wideValue)) return false;
  }
  return true;
}

bool DownloadHelper::VerifyDNField(PCCERT_CONTEXT cert, const char* oid, const wchar_t* value) {
  if (LoadCrypt32() == nullptr) return false;
  const Crypt32Functions& crypt = Crypt32();
  wchar_t text[256];
  DWORD count = crypt.certGetNameString(cert, CERT_NAME_ATTR_TYPE, 0, const_cast<char*>(oid), text, 256);
  if (count <= 1) return false;
  // Exact, character for character: a locale comparison would pass names
  // that differ in characters it gives no weight.
  return wcscmp(text, value) == 0;
}

bool DownloadHelper::VerifyCertChain(const DownloadBuffer* signature, PCCERT_CONTEXT signer,
                                     const volatile LONG* step) {
  LogChainBegin();
  if (LoadCrypt32() == nullptr) {
    LogChainFailed();
    return false;
  }
  const Crypt32Functions& crypt = Crypt32();
  bool passed = false;
  // chain[0] is the signer, chain[i + 1] the issuer of chain[i].
  PCCERT_CONTEXT chain[kMaxChainLinks + 1] = {};
  int length = 0;
  HCERTSTORE store = nullptr;
  if (signature != nullptr && signature->data != nullptr && signature->size != 0) {
    store = crypt.cryptGetMessageCertificates(kEncoding, 0, 0, signature->data, signature->size);
  }
  chain[0] = crypt.certDuplicateCertificateContext(signer);
  if (chain[0] != nullptr) length = 1;
  if (store != nullptr && length == 1) {
    bool failed = false;
    // Issuers between the signer and the one being tested, self-issued ones
    // not counted (what a path-length limit counts).
    DWORD below = 0;
    for (;;) {
      PCCERT_CONTEXT current = chain[length - 1];
      PCCERT_CONTEXT issuer = crypt.certFindCertificateInStore(store, kEncoding, 0, CERT_FIND_ISSUER_OF, current, nullptr);
      if (issuer == nullptr) break;
      if (crypt.certCompareCertificate(kEncoding, issuer->pCertInfo, current->pCertInfo)) {
        crypt.certFreeCertificateContext(issuer);
        break;
      }
      // Certificates that issue each other would otherwise keep the walk going.
      if (length > kMaxChainLinks || !PassesLinkTest(current, issuer) || !IsCertificateAuthority(issuer, below)) {
        crypt.certFreeCertificateContext(issuer);
        failed = true;
        break;
      }
      chain[length++] = issuer;
      if (!IsSelfIssued(issuer)) ++below;
    }
    // Anchored first: nothing is fetched for a chain that does not end at
    // the compiled-in root.
    if (!failed) passed = PassesAnchorTest(chain[length - 1], below);
    // Then revocation of every certificate below the top, each CRL checked
    // against the certificate's issuer in the chain.
    CrlBudget budget = {kMaxCrlAddresses, step};
    for (int i = 0; passed && i + 1 < length; ++i) {
      Revocation state = CheckRevocation(chain[i], chain[i + 1], &budget);
      if (state == kRevoked) LogRevocationFound();
      if (state != kNotRevoked) passed = false;
    }
  }
  for (int i = 0; i < length; ++i) crypt.certFreeCertificateContext(chain[i]);
  if (store != nullptr) crypt.certCloseStore(store, 0);
  if (passed) {
    LogChainSucceeded();
  } else {
    LogChainFailed();
  }
  return passed;
}

bool DownloadHelper::RetrieveCrls(PCCERT_CONTEXT cert, PCCERT_CONTEXT issuer, CrlBudget* budget, PCRL_INFO** crls,
                                  PCCRL_CONTEXT** contexts, DWORD* count) {
  *crls = nullptr;
  *contexts = nullptr;
  *count = 0;
  // Without either library no CRL can be had, as when none is named.
  if (LoadCrypt32() == nullptr || LoadCryptnet() == nullptr) return false;
  const Crypt32Functions& crypt = Crypt32();
  const CryptnetFunctions& cryptnet = Cryptnet();
  const DWORD urlFlags = CRYPT_GET_URL_FROM_PROPERTY | CRYPT_GET_URL_FROM_EXTENSION;
  void* certParameter = const_cast<CERT_CONTEXT*>(cert);
  DWORD size = 0;
  if (!cryptnet.cryptGetObjectUrl(URL_OID_CERTIFICATE_CRL_DIST_POINT, certParameter, urlFlags, nullptr, &size, nullptr,
                         nullptr, nullptr) ||
      size < sizeof(CRYPT_URL_ARRAY)) {
    return false;
  }
  HANDLE heap = GetProcessHeap();
  auto* urls = static_cast<CRYPT_URL_ARRAY*>(HeapAlloc(heap, 0, size));
  if (urls == nullptr) return false;
  if (!cryptnet.cryptGetObjectUrl(URL_OID_CERTIFICATE_CRL_DIST_POINT, certParameter, urlFlags, urls, &size, nullptr,
                         nullptr, nullptr)) {
    HeapFree(heap, 0, urls);
    return false;
  }
  // One entry per address plus the terminating empty entry.
  SIZE_T slots = static_cast<SIZE_T>(urls->cUrl) + 1;
  auto* list = static_cast<PCRL_INFO*>(HeapAlloc(heap, HEAP_ZERO_MEMORY, slots * sizeof(PCRL_INFO)));
  auto* held = static_cast<PCCRL_CONTEXT*>(HeapAlloc(heap, HEAP_ZERO_MEMORY, slots * sizeof(PCCRL_CONTEXT)));
  if (list == nullptr || held == nullptr) {
    if (list != nullptr) HeapFree(heap, 0, list);
    if (held != nullptr) HeapFree(heap, 0, held);
    HeapFree(heap, 0, urls);
    return false;
  }
  DWORD obtained = 0;
  for (DWORD i = 0; i < urls->cUrl; ++i) {
    const wchar_t* url = urls->rgwszUrl[i];
    if (url == nullptr || url[0] == L'\0') continue;
    if (budget->addressesLeft <= 0 || IsCancelled(budget->step)) break;
    --budget->addressesLeft;
    char logged[kLoggedAddressBytes];
    AddressForLog(url, logged);
    LogDownloadBegin("crl", logged);
    PCCRL_CONTEXT crl = RetrieveCrl(url, budget->step);
    if (crl != nullptr) {
      LogDownloadSuccess();
      if (IsIssuedBy(crl, issuer)) {
        held[obtained] = crl;
        list[obtained] = crl->pCrlInfo;
        ++obtained;
      } else {
        // Not the issuer's word on the certificate: it says nothing.
        crypt.certFreeCrlContext(crl);
      }
    } else {
      LogDownloadFailure("could not retrieve crl crypt object");
    }
  }
  HeapFree(heap, 0, urls);
  if (obtained == 0) {
    HeapFree(heap, 0, list);
    HeapFree(heap, 0, held);
    return false;
  }
  *crls = list;
  *contexts = held;
  *count = obtained;
  return true;
}

void DownloadHelper::FreeCrls(PCRL_INFO* crls, PCCRL_CONTEXT* contexts, DWORD count) {
  HANDLE heap = GetProcessHeap();
  if (contexts != nullptr) {
    // Contexts come from RetrieveCrls, which had the functions.
    const Crypt32Functions& crypt = Crypt32();
    for (DWORD i = 0; i < count; ++i) {
      if (contexts[i] != nullptr) crypt.certFreeCrlContext(contexts[i]);
    }
    HeapFree(heap, 0, contexts);
  }
  if (crls != nullptr) HeapFree(heap, 0, crls);
}

}  // namespace tovik

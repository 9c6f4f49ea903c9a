#include "runtime_signature.h"

#ifdef TVPACK_WITH_LIBCRYPTO

#include <openssl/bio.h>
#include <openssl/objects.h>
#include <openssl/pem.h>
#include <openssl/pkcs7.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>
#include <time.h>

#include <memory>

#include "bootstrap/core/portable/signer_rules.h"

namespace {

// The maker's rules, from tovik's own header.
using tovik::kMakerUsage;
using tovik::kMaxChainLinks;
using tovik::kSignerMinExtensions;
using tovik::kSignerName;
using tovik::SignerNameRule;

template <typename T, void (*Free)(T*)>
struct Deleter {
  void operator()(T* p) const { Free(p); }
};
using BioPtr = std::unique_ptr<BIO, Deleter<BIO, BIO_free_all>>;
using X509Ptr = std::unique_ptr<X509, Deleter<X509, X509_free>>;
using Pkcs7Ptr = std::unique_ptr<PKCS7, Deleter<PKCS7, PKCS7_free>>;
using KeyPtr = std::unique_ptr<EVP_PKEY, Deleter<EVP_PKEY, EVP_PKEY_free>>;

BIO* MemoryBio(const std::string& bytes) {
  static const char kNothing = 0;
  return BIO_new_mem_buf(bytes.empty() ? &kNothing : bytes.data(), static_cast<int>(bytes.size()));
}

// Empty when `subject` carries a signature by `issuer`'s key and is inside
// its validity period at `now`; else what is wrong.
std::string LinkProblem(X509* subject, X509* issuer, time_t now) {
  EVP_PKEY* key = X509_get0_pubkey(issuer);
  if (!key || X509_verify(subject, key) != 1) return "is not signed by the key of";
  if (X509_cmp_time(X509_get0_notBefore(subject), &now) >= 0 ||
      X509_cmp_time(X509_get0_notAfter(subject), &now) <= 0)
    return "is outside its validity period, below";
  return "";
}

// `cert` may issue certificates with `below` certificates (not counting the
// signer and self-issued ones) between it and the signer.
bool IsCertificateAuthority(X509* cert, long below, std::string* why) {
  int critical = 0;
  BASIC_CONSTRAINTS* basic =
      static_cast<BASIC_CONSTRAINTS*>(X509_get_ext_d2i(cert, NID_basic_constraints, &critical, nullptr));
  if (!basic || !basic->ca) {
    *why = basic ? "its basic constraints say it is no certificate authority" : "it has no basic constraints";
    BASIC_CONSTRAINTS_free(basic);
    return false;
  }
  const bool pathOk = !basic->pathlen || ASN1_INTEGER_get(basic->pathlen) >= below;
  BASIC_CONSTRAINTS_free(basic);
  if (!pathOk) {
    *why = "its path length limit does not allow " + std::to_string(below) + " certificate authorities below it";
    return false;
  }
  if (X509_get_ext_by_NID(cert, NID_key_usage, -1) < 0) return true;
  ASN1_BIT_STRING* usage =
      static_cast<ASN1_BIT_STRING*>(X509_get_ext_d2i(cert, NID_key_usage, &critical, nullptr));
  // A key usage that cannot be read grants nothing.
  const bool signs = usage && ASN1_STRING_length(usage) >= 1 && (ASN1_STRING_get0_data(usage)[0] & 0x04);
  ASN1_BIT_STRING_free(usage);
  if (!signs) *why = "its key usage does not include certificate signing";
  return signs;
}

bool IsSelfIssued(X509* cert) {
  return X509_NAME_cmp(X509_get_subject_name(cert), X509_get_issuer_name(cert)) == 0;
}

// The first certificate of `certs` named as `subject`'s issuer (and holding
// the key its authority key identifier names, where both say).
X509* FindIssuer(STACK_OF(X509) * certs, X509* subject) {
  const ASN1_OCTET_STRING* wanted = X509_get0_authority_key_id(subject);
  for (int i = 0; i < sk_X509_num(certs); ++i) {
    X509* candidate = sk_X509_value(certs, i);
    if (X509_NAME_cmp(X509_get_subject_name(candidate), X509_get_issuer_name(subject)) != 0) continue;
    const ASN1_OCTET_STRING* id = X509_get0_subject_key_id(candidate);
    if (wanted && id && ASN1_OCTET_STRING_cmp(wanted, id) != 0) continue;
    return candidate;
  }
  return nullptr;
}

std::string Describe(X509* cert) {
  char text[256];
  X509_NAME_oneline(X509_get_subject_name(cert), text, sizeof(text));
  return text;
}

void CrlAddresses(X509* cert, std::vector<std::string>* out) {
  int critical = 0;
  CRL_DIST_POINTS* points =
      static_cast<CRL_DIST_POINTS*>(X509_get_ext_d2i(cert, NID_crl_distribution_points, &critical, nullptr));
  if (!points) return;
  for (int i = 0; i < sk_DIST_POINT_num(points); ++i) {
    DIST_POINT* point = sk_DIST_POINT_value(points, i);
    if (!point->distpoint || point->distpoint->type != 0) continue;
    GENERAL_NAMES* names = point->distpoint->name.fullname;
    for (int j = 0; j < sk_GENERAL_NAME_num(names); ++j) {
      GENERAL_NAME* name = sk_GENERAL_NAME_value(names, j);
      if (name->type != GEN_URI) continue;
      const ASN1_IA5STRING* uri = name->d.uniformResourceIdentifier;
      out->push_back(std::string(reinterpret_cast<const char*>(ASN1_STRING_get0_data(uri)),
                                 static_cast<size_t>(ASN1_STRING_length(uri))));
    }
  }
  CRL_DIST_POINTS_free(points);
}

// True when an extended key usage of `signer` lists the maker's identifier.
// Every extension is visited, as tovik does.
bool ListsMakerUsage(X509* signer) {
  bool listed = false;
  for (int i = 0; i < X509_get_ext_count(signer); ++i) {
    X509_EXTENSION* extension = X509_get_ext(signer, i);
    if (OBJ_obj2nid(X509_EXTENSION_get_object(extension)) != NID_ext_key_usage) continue;
    EXTENDED_KEY_USAGE* usage = static_cast<EXTENDED_KEY_USAGE*>(X509V3_EXT_d2i(extension));
    for (int j = 0; usage && j < sk_ASN1_OBJECT_num(usage); ++j) {
      char text[128];
      OBJ_obj2txt(text, sizeof(text), sk_ASN1_OBJECT_value(usage, j), 1);
      if (std::string(text) == kMakerUsage) listed = true;
    }
    EXTENDED_KEY_USAGE_free(usage);
  }
  return listed;
}

// The first attribute `oid` of `name` in UTF-8; empty when it has none.
std::string NameAttribute(X509_NAME* name, const char* oid) {
  ASN1_OBJECT* object = OBJ_txt2obj(oid, 1);
  const int index = X509_NAME_get_index_by_OBJ(name, object, -1);
  ASN1_OBJECT_free(object);
  std::string value;
  if (index < 0) return value;
  unsigned char* utf8 = nullptr;
  const int length = ASN1_STRING_to_UTF8(&utf8, X509_NAME_ENTRY_get_data(X509_NAME_get_entry(name, index)));
  if (length > 0) value.assign(reinterpret_cast<const char*>(utf8), static_cast<size_t>(length));
  OPENSSL_free(utf8);
  return value;
}

// The signer's name as the rules spell it: "C=US, CN=...".
std::string SignerNameText() {
  std::string names;
  for (const SignerNameRule& rule : kSignerName)
    names += std::string(names.empty() ? "" : ", ") + rule.label + "=" + rule.value;
  return names;
}

}  // namespace

bool RuntimeSignatureAvailable(std::string*) { return true; }

bool SignRuntime(const std::string& installer, const std::string& certPem, const std::string& keyPem,
                 const std::string& chainPem, std::string* der, std::string* error) {
  BioPtr certBio(MemoryBio(certPem)), keyBio(MemoryBio(keyPem));
  X509Ptr signer(PEM_read_bio_X509(certBio.get(), nullptr, nullptr, nullptr));
  if (!signer) {
    *error = "the signer's certificate is not a PEM certificate";
    return false;
  }
  KeyPtr key(PEM_read_bio_PrivateKey(keyBio.get(), nullptr, nullptr, nullptr));
  if (!key) {
    *error = "the key is not a PEM private key (or needs a password)";
    return false;
  }
  if (X509_check_private_key(signer.get(), key.get()) != 1) {
    *error = "the key does not belong to the signer's certificate";
    return false;
  }
  STACK_OF(X509)* chain = sk_X509_new_null();
  if (!chainPem.empty()) {
    BioPtr chainBio(MemoryBio(chainPem));
    while (X509* cert = PEM_read_bio_X509(chainBio.get(), nullptr, nullptr, nullptr)) sk_X509_push(chain, cert);
    if (sk_X509_num(chain) == 0) {
      sk_X509_pop_free(chain, X509_free);
      *error = "the chain file holds no PEM certificate";
      return false;
    }
  }
  BioPtr content(MemoryBio(installer));
  Pkcs7Ptr p7(PKCS7_sign(signer.get(), key.get(), chain, content.get(), PKCS7_BINARY | PKCS7_DETACHED));
  sk_X509_pop_free(chain, X509_free);
  unsigned char* out = nullptr;
  const int size = p7 ? i2d_PKCS7(p7.get(), &out) : -1;
  if (size <= 0) {
    *error = "signing failed (is it an RSA or EC key?)";
    return false;
  }
  der->assign(reinterpret_cast<const char*>(out), static_cast<size_t>(size));
  OPENSSL_free(out);
  return true;
}

RuntimeCheck CheckRuntime(const std::string& installer, const std::string& p7Der,
                          const std::string& rootDer, long long now) {
  RuntimeCheck result;
  const time_t at = now ? static_cast<time_t>(now) : time(nullptr);
  auto fail = [&](const std::string& rule, const std::string& detail) {
    result.lines.push_back(rule + ": FAILS: " + detail);
    result.failedRule = rule + ": " + detail;
    return result;
  };

  // 1. The signature over the exact bytes (and, with signed attributes,
  // their message digest over them).
  const unsigned char* p = reinterpret_cast<const unsigned char*>(p7Der.data());
  Pkcs7Ptr p7(p7Der.empty() ? nullptr : d2i_PKCS7(nullptr, &p, static_cast<long>(p7Der.size())));
  if (!p7 || !PKCS7_type_is_signed(p7.get()) || !p7->d.sign)
    return fail("signature", "not a PKCS #7 signed message");
  BioPtr content(MemoryBio(installer));
  if (PKCS7_verify(p7.get(), nullptr, nullptr, content.get(), nullptr, PKCS7_NOVERIFY | PKCS7_BINARY) != 1)
    return fail("signature", "it does not verify over the installer's bytes");
  STACK_OF(X509)* signers = PKCS7_get0_signers(p7.get(), nullptr, 0);
  X509* signer = signers && sk_X509_num(signers) > 0 ? sk_X509_value(signers, 0) : nullptr;
  sk_X509_free(signers);
  if (!signer) return fail("signature", "the signer's certificate is not in the signature");
  result.lines.push_back("signature: verified over the installer's bytes, signed by " + Describe(signer));

  // 2. The maker's usage identifier, in a certificate of two extensions or more.
  if (X509_get_ext_count(signer) < kSignerMinExtensions)
    return fail("usage", "the signer's certificate has fewer than two extensions");
  if (!ListsMakerUsage(signer)) return fail("usage", std::string("the signer's extended key usage does not list ") + kMakerUsage);
  result.lines.push_back(std::string("usage: the signer's certificate lists ") + kMakerUsage);

  // 3. The signer's name, attribute by attribute, exactly.
  X509_NAME* subject = X509_get_subject_name(signer);
  for (const SignerNameRule& rule : kSignerName) {
    const std::string value = NameAttribute(subject, rule.oid);
    if (value != rule.value)
      return fail("name", std::string(rule.label) + " is \"" + value + "\", not \"" + rule.value + "\"");
  }
  result.lines.push_back("name: " + SignerNameText());

  // 4. The chain from the certificates in the signature.
  STACK_OF(X509)* certs = p7->d.sign->cert;
  std::vector<X509*> chain = {signer};
  long below = 0;
  for (;;) {
    X509* current = chain.back();
    X509* issuer = certs ? FindIssuer(certs, current) : nullptr;
    if (!issuer || X509_cmp(issuer, current) == 0) break;
    std::string why;
    if (static_cast<int>(chain.size()) > kMaxChainLinks)
      return fail("chain", "more than " + std::to_string(kMaxChainLinks) + " links");
    const std::string link = LinkProblem(current, issuer, at);
    if (!link.empty()) return fail("chain", Describe(current) + " " + link + " " + Describe(issuer));
    if (!IsCertificateAuthority(issuer, below, &why)) return fail("chain", Describe(issuer) + ": " + why);
    chain.push_back(issuer);
    if (!IsSelfIssued(issuer)) ++below;
  }
  result.lines.push_back("chain: " + std::to_string(chain.size()) + " certificate(s), every issuer a certificate authority");

  // 5. The top of the chain, signed by the given root.
  const unsigned char* r = reinterpret_cast<const unsigned char*>(rootDer.data());
  X509Ptr root(rootDer.empty() ? nullptr : d2i_X509(nullptr, &r, static_cast<long>(rootDer.size())));
  if (!root) return fail("root", "the root is not a DER certificate");
  std::string why;
  const std::string link = LinkProblem(chain.back(), root.get(), at);
  if (!link.empty()) return fail("root", Describe(chain.back()) + " " + link + " the root " + Describe(root.get()));
  if (!IsCertificateAuthority(root.get(), below, &why)) return fail("root", "the root: " + why);
  result.lines.push_back("root: the chain ends at " + Describe(root.get()));

  // What tovik then fetches: the CRLs of every certificate below the top.
  std::vector<std::string> addresses;
  for (size_t i = 0; i + 1 < chain.size(); ++i) CrlAddresses(chain[i], &addresses);
  if (addresses.empty()) result.lines.push_back("CRL addresses: none (nothing to fetch)");
  for (const std::string& a : addresses) result.lines.push_back("CRL address (tovik fetches it; not fetched here): " + a);
  result.accepted = true;
  return result;
}

#else  // no libcrypto in this build

bool RuntimeSignatureAvailable(std::string* reason) {
  *reason =
      "sign-runtime and check-runtime are not available in this build of tvpack (it has no "
      "cryptography library); use the Linux tvpack of the release";
  return false;
}

bool SignRuntime(const std::string&, const std::string&, const std::string&, const std::string&, std::string*,
                 std::string* error) {
  RuntimeSignatureAvailable(error);
  return false;
}

RuntimeCheck CheckRuntime(const std::string&, const std::string&, const std::string&, long long) {
  RuntimeCheck result;
  RuntimeSignatureAvailable(&result.failedRule);
  return result;
}

#endif

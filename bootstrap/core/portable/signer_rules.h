// What the runtime installer's signer must be, for tovik's signature check
// (download_verify.cc) and for tvpack's check-runtime, which applies the same
// rules before the files go on the download server. Constants only, no
// calls: the one header of the bootstrapper that tvpack includes (the layer
// check allows exactly this file). Portable.
#pragma once

namespace tovik {

// The maker's extended key usage, as the decoder writes an identifier (digits
// and points): the signer's certificate must list it, and carry at least
// kSignerMinExtensions extensions.
inline constexpr char kMakerUsage[] = "1.2.840.201946.1.1.12";
inline constexpr int kSignerMinExtensions = 2;

// Certificates walked from the signer towards the root at most; a longer
// chain (or certificates that issue each other) is refused.
inline constexpr int kMaxChainLinks = 8;

// One attribute of the signer's subject name, compared exactly, character
// for character; both text forms of the one spelling.
struct SignerNameRule {
  const char* oid;
  const char* label;  // the attribute's short name, for messages
  const char* value;
  const wchar_t* wideValue;
};
#define TOVIK_SIGNER_VALUE(text) text, L"" text
// In the order the check goes through them; the first mismatch ends it.
inline constexpr SignerNameRule kSignerName[] = {
    {"2.5.4.6", "C", TOVIK_SIGNER_VALUE("US")},
    {"2.5.4.3", "CN", TOVIK_SIGNER_VALUE("Tessaro Vantel")},
    {"2.5.4.10", "O", TOVIK_SIGNER_VALUE("Tessaro Systems Incorporated")},
    {"2.5.4.11", "OU", TOVIK_SIGNER_VALUE("Tessaro Trust Services")},
};
#undef TOVIK_SIGNER_VALUE

}  // namespace tovik

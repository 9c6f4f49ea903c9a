// The runtime installer's detached signature, made and checked by the maker
// before the two files go on the download server: the same PKCS #7 form and
// the same acceptance rules as tovik's download worker (signature over the
// exact bytes, the maker's usage identifier and signer name, every issuer a
// certificate authority up to the given root, path lengths, at most 8 links).
// CRL addresses are listed, never fetched. Built with the system's libcrypto
// where the build has it; elsewhere both calls say they are not available.
#pragma once

#include <string>
#include <vector>

// False (with the reason) when this build of the tool cannot sign or check.
bool RuntimeSignatureAvailable(std::string* reason);

// The detached signature (DER) of `installer` by the certificate and key in
// PEM text, carrying the signer's certificate and those of `chainPem`
// (intermediates, may be empty): SHA-256 with RSA, signed attributes.
bool SignRuntime(const std::string& installer, const std::string& certPem,
                 const std::string& keyPem, const std::string& chainPem, std::string* der,
                 std::string* error);

struct RuntimeCheck {
  bool accepted = false;
  std::vector<std::string> lines;  // one per rule, in tovik's order, then the CRL addresses
  std::string failedRule;          // the first rule that fails; empty when accepted
};

// Applies tovik's rules to `installer` and its signature `p7` (DER), with
// the root certificate `rootDer` as the anchor. `now`: seconds since 1970
// for the validity periods (0: the current time).
RuntimeCheck CheckRuntime(const std::string& installer, const std::string& p7,
                          const std::string& rootDer, long long now = 0);

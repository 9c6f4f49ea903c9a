// The maker's root certificate (DER), the trust anchor of every signature
// check. Its bytes are a build input: the file named by TOVIK_ROOT_CERT,
// compiled into a generated source file.
#pragma once

#include <stddef.h>
#include <stdint.h>

namespace tovik {

extern const uint8_t kRootCertificate[];
extern const size_t kRootCertificateSize;

}  // namespace tovik

# Writes a C++ source file that holds the bytes of a DER certificate as
# tovik::kRootCertificate. Run as: cmake -DIN=<der> -DOUT=<cc> -P <this file>
if(NOT EXISTS "${IN}")
  message(FATAL_ERROR "Root certificate not found: ${IN}")
endif()
file(READ "${IN}" hex HEX)
string(LENGTH "${hex}" hex_length)
if(hex_length EQUAL 0)
  message(FATAL_ERROR "Root certificate is empty: ${IN}")
endif()
math(EXPR size "${hex_length} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
string(REGEX REPLACE "((0x..,){16})" "\\1\n  " bytes "${bytes}")
file(WRITE "${OUT}.tmp" "// Generated from ${IN}; do not edit.
#include \"root_certificate.h\"

namespace tovik {

const uint8_t kRootCertificate[] = {
  ${bytes}
};
const size_t kRootCertificateSize = ${size};

}  // namespace tovik
")
file(COPY_FILE "${OUT}.tmp" "${OUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUT}.tmp")

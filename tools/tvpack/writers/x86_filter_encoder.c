/* The encoding half of the LZMA SDK's x86 branch filter. The launcher's
   decoder library builds Bra86.c for extraction only; this unit builds it
   again with the decoding function renamed, so only the encoder is added. */
#define z7_BranchConvSt_X86_Dec tvpack_unused_BranchConvSt_X86_Dec
#include "Bra86.c"

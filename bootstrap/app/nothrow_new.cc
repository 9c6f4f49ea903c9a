// The allocation operators of tovik.exe. The program allocates only with
// `new (std::nothrow)` and never throws; the toolchain's own nothrow
// operator calls the throwing one inside a try block, and that alone links
// the whole exception machinery (unwinder, personality, demangler, threads
// library): about 140 KiB of the image. These take memory from the C
// library directly and report failure with null, as the nothrow forms must.
#include <stdlib.h>

#include <new>

void* operator new(size_t size, const std::nothrow_t&) noexcept { return malloc(size ? size : 1); }
void* operator new[](size_t size, const std::nothrow_t&) noexcept {
  return malloc(size ? size : 1);
}
void operator delete(void* block) noexcept { free(block); }
void operator delete[](void* block) noexcept { free(block); }
void operator delete(void* block, size_t) noexcept { free(block); }
void operator delete[](void* block, size_t) noexcept { free(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept { free(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { free(block); }

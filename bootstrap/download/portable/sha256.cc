#include "sha256.h"

#include <string.h>

#if defined(__i386__) || defined(__x86_64__)
#include <cpuid.h>
#include <immintrin.h>
#define TOVIK_SHA_X86 1
#endif

namespace tovik {

namespace {

alignas(16) constexpr uint32_t kRound[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2,
};

constexpr uint32_t kInitial[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                  0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};

inline uint32_t Rotr(uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }

void PortableBlocks(uint32_t state[8], const uint8_t* data, size_t blocks) {
  for (; blocks != 0; --blocks, data += 64) {
    uint32_t w[64];
    for (int i = 0; i < 16; ++i) {
      w[i] = static_cast<uint32_t>(data[4 * i]) << 24 | static_cast<uint32_t>(data[4 * i + 1]) << 16 |
             static_cast<uint32_t>(data[4 * i + 2]) << 8 | data[4 * i + 3];
    }
    for (int i = 16; i < 64; ++i) {
      uint32_t s0 = Rotr(w[i - 15], 7) ^ Rotr(w[i - 15], 18) ^ (w[i - 15] >> 3);
      uint32_t s1 = Rotr(w[i - 2], 17) ^ Rotr(w[i - 2], 19) ^ (w[i - 2] >> 10);
      w[i] = w[i - 16] + s0 + w[i - 7] + s1;
    }
    uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
    uint32_t e = state[4], f = state[5], g = state[6], h = state[7];
    for (int i = 0; i < 64; ++i) {
      uint32_t t1 = h + (Rotr(e, 6) ^ Rotr(e, 11) ^ Rotr(e, 25)) + ((e & f) ^ (~e & g)) + kRound[i] + w[i];
      uint32_t t2 = (Rotr(a, 2) ^ Rotr(a, 13) ^ Rotr(a, 22)) + ((a & b) ^ (a & c) ^ (b & c));
      h = g;
      g = f;
      f = e;
      e = d + t1;
      d = c;
      c = b;
      b = a;
      a = t1 + t2;
    }
    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
    state[4] += e;
    state[5] += f;
    state[6] += g;
    state[7] += h;
  }
}

#ifdef TOVIK_SHA_X86
// Sixteen groups of four rounds; the message schedule is kept in four
// vectors, each group preparing the words of the groups after it. 32-bit
// Windows only keeps the stack 4-byte aligned (a thread's entry included),
// while vectors spilled to it need 16.
__attribute__((target("sha,sse4.1,ssse3"), force_align_arg_pointer)) void HardwareBlocks(uint32_t state[8], const uint8_t* data,
                                                                  size_t blocks) {
  const __m128i byteSwap = _mm_set_epi8(12, 13, 14, 15, 8, 9, 10, 11, 4, 5, 6, 7, 0, 1, 2, 3);
  __m128i tmp = _mm_loadu_si128(reinterpret_cast<const __m128i*>(&state[0]));
  __m128i state1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(&state[4]));
  tmp = _mm_shuffle_epi32(tmp, 0xB1);             // CDAB
  state1 = _mm_shuffle_epi32(state1, 0x1B);       // EFGH
  __m128i state0 = _mm_alignr_epi8(tmp, state1, 8);  // ABEF
  state1 = _mm_blend_epi16(state1, tmp, 0xF0);    // CDGH

  for (; blocks != 0; --blocks, data += 64) {
    const __m128i saved0 = state0;
    const __m128i saved1 = state1;
    __m128i w[4];
    for (int i = 0; i < 16; ++i) {
      if (i < 4) {
        w[i] = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data + 16 * i)), byteSwap);
      }
      __m128i message = _mm_add_epi32(w[i & 3], _mm_load_si128(reinterpret_cast<const __m128i*>(&kRound[4 * i])));
      state1 = _mm_sha256rnds2_epu32(state1, state0, message);
      if (i >= 3 && i <= 14) {
        __m128i& next = w[(i + 1) & 3];
        next = _mm_add_epi32(next, _mm_alignr_epi8(w[i & 3], w[(i - 1) & 3], 4));
        next = _mm_sha256msg2_epu32(next, w[i & 3]);
      }
      message = _mm_shuffle_epi32(message, 0x0E);
      state0 = _mm_sha256rnds2_epu32(state0, state1, message);
      if (i >= 1 && i <= 12) w[(i - 1) & 3] = _mm_sha256msg1_epu32(w[(i - 1) & 3], w[i & 3]);
    }
    state0 = _mm_add_epi32(state0, saved0);
    state1 = _mm_add_epi32(state1, saved1);
  }

  tmp = _mm_shuffle_epi32(state0, 0x1B);           // FEBA
  state1 = _mm_shuffle_epi32(state1, 0xB1);        // DCHG
  state0 = _mm_blend_epi16(tmp, state1, 0xF0);     // DCBA
  state1 = _mm_alignr_epi8(state1, tmp, 8);        // HGFE
  _mm_storeu_si128(reinterpret_cast<__m128i*>(&state[0]), state0);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(&state[4]), state1);
}
#endif

}  // namespace

bool Sha256::HardwareAvailable() {
#ifdef TOVIK_SHA_X86
  unsigned a = 0, b = 0, c = 0, d = 0;
  if (!__get_cpuid(1, &a, &b, &c, &d)) return false;
  const bool sse = (c & bit_SSSE3) != 0 && (c & bit_SSE4_1) != 0;
  if (!sse || !__get_cpuid_count(7, 0, &a, &b, &c, &d)) return false;
  return (b & bit_SHA) != 0;
#else
  return false;
#endif
}

Sha256::Sha256(bool allowHardware) : hardware_(allowHardware && HardwareAvailable()) {
  memcpy(state_, kInitial, sizeof(state_));
}

void Sha256::Blocks(const uint8_t* data, size_t blocks) {
#ifdef TOVIK_SHA_X86
  if (hardware_) {
    HardwareBlocks(state_, data, blocks);
    return;
  }
#endif
  PortableBlocks(state_, data, blocks);
}

void Sha256::Update(const uint8_t* data, size_t size) {
  totalSize_ += size;
  if (size == 0) return;
  if (pendingSize_ != 0) {
    size_t take = 64 - pendingSize_ < size ? 64 - pendingSize_ : size;
    memcpy(pending_ + pendingSize_, data, take);
    pendingSize_ += take;
    data += take;
    size -= take;
    if (pendingSize_ < 64) return;
    Blocks(pending_, 1);
    pendingSize_ = 0;
  }
  if (size >= 64) {
    Blocks(data, size / 64);
    data += size & ~static_cast<size_t>(63);
    size &= 63;
  }
  if (size != 0) memcpy(pending_, data, size);
  pendingSize_ = size;
}

void Sha256::Final(uint8_t digest[32]) {
  const uint64_t bits = totalSize_ * 8;
  uint8_t tail[128] = {};
  memcpy(tail, pending_, pendingSize_);
  tail[pendingSize_] = 0x80;
  const size_t length = pendingSize_ < 56 ? 64 : 128;
  for (int i = 0; i < 8; ++i) tail[length - 1 - i] = static_cast<uint8_t>(bits >> (8 * i));
  Blocks(tail, length / 64);
  for (int i = 0; i < 8; ++i) {
    digest[4 * i] = static_cast<uint8_t>(state_[i] >> 24);
    digest[4 * i + 1] = static_cast<uint8_t>(state_[i] >> 16);
    digest[4 * i + 2] = static_cast<uint8_t>(state_[i] >> 8);
    digest[4 * i + 3] = static_cast<uint8_t>(state_[i]);
  }
}

}  // namespace tovik

// The installer's digest, fast path and portable path, against the system's
// SHA-256 over lengths around the block boundaries, fed whole and in pieces.
#include <windows.h>
#include <wincrypt.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sha256.h"

namespace {

std::string Hex(const uint8_t* bytes, size_t size) {
  std::string out;
  for (size_t i = 0; i < size; ++i) {
    out += "0123456789abcdef"[bytes[i] >> 4];
    out += "0123456789abcdef"[bytes[i] & 15];
  }
  return out;
}

std::string SystemDigest(const std::vector<uint8_t>& data) {
  HCRYPTPROV provider = 0;
  HCRYPTHASH hash = 0;
  uint8_t digest[32] = {};
  DWORD size = sizeof(digest);
  EXPECT_TRUE(CryptAcquireContextW(&provider, nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT));
  EXPECT_TRUE(CryptCreateHash(provider, CALG_SHA_256, 0, 0, &hash));
  if (!data.empty()) EXPECT_TRUE(CryptHashData(hash, data.data(), static_cast<DWORD>(data.size()), 0));
  EXPECT_TRUE(CryptGetHashParam(hash, HP_HASHVAL, digest, &size, 0));
  CryptDestroyHash(hash);
  CryptReleaseContext(provider, 0);
  return Hex(digest, sizeof(digest));
}

// Feeds `data` in pieces of the sizes in `pieces`, repeated, then the rest.
std::string OurDigest(const std::vector<uint8_t>& data, bool hardware, const std::vector<size_t>& pieces) {
  tovik::Sha256 sha(hardware);
  size_t at = 0;
  for (size_t i = 0; at < data.size() && !pieces.empty(); ++i) {
    size_t n = std::min(pieces[i % pieces.size()], data.size() - at);
    sha.Update(data.data() + at, n);
    at += n;
  }
  sha.Update(data.data() + at, data.size() - at);
  uint8_t digest[32];
  sha.Final(digest);
  return Hex(digest, sizeof(digest));
}

TEST(Sha256, KnownAnswer) {
  const std::string abc = "abc";
  for (bool hardware : {false, true}) {
    tovik::Sha256 sha(hardware);
    sha.Update(reinterpret_cast<const uint8_t*>(abc.data()), abc.size());
    uint8_t digest[32];
    sha.Final(digest);
    EXPECT_EQ(Hex(digest, 32), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad") << hardware;
  }
}

TEST(Sha256, MatchesTheSystemOverLengthsAndPieces) {
  if (!tovik::Sha256::HardwareAvailable()) std::printf("no SHA instructions here: both runs are portable\n");
  const size_t lengths[] = {0, 1, 3, 55, 56, 57, 63, 64, 65, 119, 120, 127, 128, 129, 1000, 8191, 32768, 100003};
  const std::vector<size_t> pieceSets[] = {{}, {1}, {7, 64, 13}, {63}, {65}, {8192}, {32768, 5}};
  for (size_t length : lengths) {
    std::vector<uint8_t> data(length);
    for (size_t i = 0; i < length; ++i) data[i] = static_cast<uint8_t>(i * 131 + (i >> 8) * 7 + 1);
    const std::string expected = SystemDigest(data);
    for (bool hardware : {false, true}) {
      for (const auto& pieces : pieceSets) {
        EXPECT_EQ(OurDigest(data, hardware, pieces), expected)
            << "length " << length << ", hardware " << hardware << ", " << pieces.size() << " piece sizes";
      }
    }
  }
}

// The download worker hashes on a thread of its own, whose stack the
// system need not align for vector registers.
struct ThreadJob {
  std::vector<uint8_t> data = std::vector<uint8_t>(100003, 0x5A);
  std::string digest;
};

DWORD WINAPI HashOnThread(void* parameter) {
  ThreadJob* job = static_cast<ThreadJob*>(parameter);
  job->digest = OurDigest(job->data, true, {8192});
  return 0;
}

TEST(Sha256, OnAThreadOfItsOwn) {
  ThreadJob job;
  HANDLE thread = CreateThread(nullptr, 0, HashOnThread, &job, 0, nullptr);
  ASSERT_NE(thread, nullptr);
  EXPECT_EQ(WaitForSingleObject(thread, 30000), WAIT_OBJECT_0);
  CloseHandle(thread);
  EXPECT_EQ(job.digest, SystemDigest(job.data));
}

}  // namespace

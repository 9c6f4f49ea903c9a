// The verification matrix: detached signatures over a sample installer made
// with a throwaway PKI at build time, the CRLs served by the fixture server.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "download_helper.h"
#include "download_test_support.h"
#include "http_fixture.h"
#include "log_reader.h"
#include "test_support.h"

namespace {

using Lines = std::vector<std::string>;

const std::string kInterCrl = "http://127.0.0.1/crl/inter.crl";
const std::string kRootCrl = "http://127.0.0.1/crl/root.crl";

class Verify : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server_.listening()) << "port 80 is taken";
    server_.Serve("/crl/inter.crl", tvtest::Pki("inter.crl"));
    server_.Serve("/crl/root.crl", tvtest::Pki("root.crl"));
    installer_ = tvtest::Pki("installer.bin");
    ASSERT_FALSE(installer_.empty());
  }

  // Runs the whole decision; returns its answer and the log lines it wrote.
  bool Run(const std::string& installer, const std::string& signature, Lines* lines) {
    tvtest::TovikLogTail tail;
    tovik::DownloadBuffer* a = tvtest::NewBuffer(installer);
    tovik::DownloadBuffer* b = tvtest::NewBuffer(signature);
    bool passed = tovik::DownloadHelper::VerifyDetachedSignature(a, b);
    tvtest::FreeBuffer(a);
    tvtest::FreeBuffer(b);
    *lines = tail.Lines();
    return passed;
  }

  // Content or signature altered: the "Detatched" failure and nothing else.
  void ExpectContentMismatchesFail(const std::string& signature);

  tvtest::HttpFixture server_;
  std::string installer_;
};

Lines Chain(std::initializer_list<std::string> middle, bool succeeded) {
  Lines lines = {"Detached signature verified", "Begin cert chain validation"};
  lines.insert(lines.end(), middle.begin(), middle.end());
  lines.push_back(succeeded ? "Cert chain validation succeeded" : "Cert chain validation failed");
  return lines;
}

std::string CrlBegin(const std::string& address) { return "Begin crl download from " + address; }
const std::string kCrlFailure = "Download failure: could not retrieve crl crypt object";

struct Case {
  const char* name;
  const char* signature;  // file of the test PKI
  bool passes;
  Lines lines;
};

TEST_F(Verify, Matrix) {
  const Case cases[] = {
      {"valid chain", "good.p7", true, Chain({CrlBegin(kInterCrl), "Download success"}, true)},
      {"no usage identifier", "noeku.p7", false, {"Detached signature validation failed"}},
      {"other usage identifiers only", "otheku.p7", false, {"Detached signature validation failed"}},
      {"one extension only (the usage)", "oneext.p7", false, {"Detached signature validation failed"}},
      {"wrong organisational unit", "wrongou.p7", false, {"Detached signature validation failed"}},
      {"common name differing in case", "wrongcn.p7", false, {"Detached signature validation failed"}},
      {"chain to another root", "otherroot.p7", false, Chain({}, false)},
      // Anchored before any revocation data is fetched.
      {"expired intermediate", "expiredinter.p7", false, Chain({}, false)},
      {"no CRL distribution point", "nocdp.p7", true, Chain({}, true)},
      {"CRL addresses unreachable", "deadcdp.p7", true,
       Chain({CrlBegin("http://127.0.0.1/crl/missing.crl"), kCrlFailure,
              CrlBegin("http://127.0.0.1:9/crl/dead.crl"), kCrlFailure},
             true)},
      {"root carried, valid", "withroot.p7", true,
       Chain({CrlBegin(kInterCrl), "Download success", CrlBegin(kRootCrl), "Download success"}, true)},
      {"root carried, expired", "expiredroot.p7", false, Chain({}, false)},
      {"chain to another root, with CRL addresses", "otherroot-cdp.p7", false, Chain({}, false)},
      {"issuer is a server certificate (no CA)", "nonca.p7", false, Chain({}, false)},
      {"issuer without basic constraints", "nobc.p7", false, Chain({}, false)},
      {"issuer CA whose key usage lacks certificate signing", "nocertsign.p7", false, Chain({}, false)},
      {"signer right below a CA of path length 0", "pathlen-ok.p7", true, Chain({}, true)},
      {"CA below a CA of path length 0", "pathlen-exceeded.p7", false, Chain({}, false)},
      {"certificates issuing each other", "cycle.p7", false, Chain({}, false)},
      {"8 links up to the carried root", "links8.p7", true, Chain({}, true)},
      {"9 links up to the carried root", "links9.p7", false, Chain({}, false)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Lines lines;
    EXPECT_EQ(Run(installer_, tvtest::Pki(c.signature), &lines), c.passes);
    EXPECT_EQ(lines, c.lines);
  }
}

TEST_F(Verify, SignatureOverOtherBytes) {
  for (const char* file : {"good.p7", "good-noattr.p7"}) {
    SCOPED_TRACE(file);
    ExpectContentMismatchesFail(tvtest::Pki(file));
  }
  EXPECT_TRUE(server_.Requests().empty());
}

TEST_F(Verify, SignatureWithoutSignedAttributes) {
  Lines lines;
  EXPECT_TRUE(Run(installer_, tvtest::Pki("good-noattr.p7"), &lines));
  EXPECT_EQ(lines, Chain({CrlBegin(kInterCrl), "Download success"}, true));
}

void Verify::ExpectContentMismatchesFail(const std::string& good) {
  std::string altered = installer_;
  altered[altered.size() / 2] ^= 0x01;
  std::string truncated = installer_.substr(0, installer_.size() - 1);
  std::string garbage = good;
  garbage[garbage.size() - 10] ^= 0x55;  // inside the signature value
  struct {
    const char* name;
    std::string installer, signature;
  } cases[] = {
      {"installer altered by one byte", altered, good},
      {"installer one byte short", truncated, good},
      {"empty installer", "", good},
      {"empty signature", installer_, ""},
      {"signature value altered", installer_, garbage},
      {"signature cut short", installer_, good.substr(0, good.size() - 1)},
      {"signature that is not a signature", installer_, "not a PKCS #7 message"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Lines lines;
    EXPECT_FALSE(Run(c.installer, c.signature, &lines));
    EXPECT_EQ(lines, Lines{"Detatched signature validation failed"});
  }
}

TEST_F(Verify, RevokedSignerInServedCrl) {
  server_.Serve("/crl/inter.crl", tvtest::Pki("inter-revoked.crl"));
  Lines lines;
  EXPECT_FALSE(Run(installer_, tvtest::Pki("good.p7"), &lines));
  EXPECT_EQ(lines, Chain({CrlBegin(kInterCrl), "Download success", "Cert revocation found"}, false));
}

TEST_F(Verify, NothingFetchedForChainsThatFail) {
  // Each signer names a CRL address, yet no chain reaches the root or every
  // chain has an issuer that is no CA: the server must not be asked.
  for (const char* file : {"otherroot-cdp.p7", "nonca.p7", "nobc.p7", "nocertsign.p7", "expiredinter.p7",
                           "expiredroot.p7"}) {
    SCOPED_TRACE(file);
    Lines lines;
    EXPECT_FALSE(Run(installer_, tvtest::Pki(file), &lines));
  }
  EXPECT_EQ(server_.RequestedTargets(), std::vector<std::string>{});
}

TEST_F(Verify, CrlAddressesAreBounded) {
  // Ten addresses, of which only the first kMaxCrlAddresses are fetched; an
  // unreachable CRL still counts as not revoked.
  Lines lines;
  EXPECT_TRUE(Run(installer_, tvtest::Pki("manycdp.p7"), &lines));
  std::vector<std::string> expected;
  Lines middle;
  for (int i = 1; i <= tovik::DownloadHelper::kMaxCrlAddresses; ++i) {
    std::string address = "/crl/m" + std::to_string(i) + ".crl";
    expected.push_back(address);
    middle.push_back(CrlBegin("http://127.0.0.1" + address));
    middle.push_back(kCrlFailure);
  }
  EXPECT_EQ(server_.RequestedTargets(), expected);
  Lines want = {"Detached signature verified", "Begin cert chain validation"};
  want.insert(want.end(), middle.begin(), middle.end());
  want.push_back("Cert chain validation succeeded");
  EXPECT_EQ(lines, want);
}

TEST_F(Verify, CancelStopsTheCrlFetches) {
  tovik::DownloadBuffer* a = tvtest::NewBuffer(installer_);
  tovik::DownloadBuffer* b = tvtest::NewBuffer(tvtest::Pki("withroot.p7"));
  volatile LONG step = tovik::Finished;
  tvtest::TovikLogTail tail;
  EXPECT_FALSE(tovik::DownloadHelper::VerifyDetachedSignature(a, b, &step));
  EXPECT_EQ(tail.Lines(), Chain({}, false));
  step = tovik::VerifyAndStore;
  EXPECT_TRUE(tovik::DownloadHelper::VerifyDetachedSignature(a, b, &step));
  tvtest::FreeBuffer(a);
  tvtest::FreeBuffer(b);
  EXPECT_EQ(server_.RequestedTargets(), (std::vector<std::string>{"/crl/inter.crl", "/crl/root.crl"}));
}

TEST_F(Verify, CrlNotFromTheIssuerIsIgnored) {
  // Both revoke the good signer; neither is the intermediate's own.
  for (const char* crl : {"inter-wrongkey.crl", "inter-wrongname.crl"}) {
    SCOPED_TRACE(crl);
    server_.Serve("/crl/inter.crl", tvtest::Pki(crl));
    Lines lines;
    EXPECT_TRUE(Run(installer_, tvtest::Pki("good.p7"), &lines));
    EXPECT_EQ(lines, Chain({CrlBegin(kInterCrl), "Download success"}, true));
  }
}

TEST_F(Verify, CrlComesFromTheServerEveryTime) {
  // No cached copy: a second check asks the server again, and the CRL that
  // now revokes the signer is the one used.
  Lines lines;
  EXPECT_TRUE(Run(installer_, tvtest::Pki("good.p7"), &lines));
  server_.Serve("/crl/inter.crl", tvtest::Pki("inter-revoked.crl"));
  EXPECT_FALSE(Run(installer_, tvtest::Pki("good.p7"), &lines));
  EXPECT_EQ(server_.RequestedTargets(), (std::vector<std::string>{"/crl/inter.crl", "/crl/inter.crl"}));
}

TEST_F(Verify, CycleIsBoundedWithoutFetching) {
  DWORD start = GetTickCount();
  Lines lines;
  EXPECT_FALSE(Run(installer_, tvtest::Pki("cycle.p7"), &lines));
  EXPECT_LT(GetTickCount() - start, 10000u);
  EXPECT_TRUE(server_.Requests().empty());
}

}  // namespace

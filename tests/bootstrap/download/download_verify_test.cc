// The verification matrix: detached signatures over a sample installer made
// with a throwaway PKI at build time, the CRLs served by the fixture server.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "download_helper.h"
#include "download_test_support.h"
#include "http_fixture.h"
#include "test_support.h"

namespace {

using Lines = std::vector<std::string>;

const std::string kInterCrl = "http://127.0.0.1/crl/inter.crl";
const std::string kRootCrl = "http://127.0.0.1/crl/root.crl";

class Verify : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server_.listening()) << "port 80 is taken";
    server_.Serve("/crl/inter.crl", dltest::Pki("inter.crl"));
    server_.Serve("/crl/root.crl", dltest::Pki("root.crl"));
    installer_ = dltest::Pki("installer.bin");
    ASSERT_FALSE(installer_.empty());
  }

  // Runs the whole decision; returns its answer and the log lines it wrote.
  bool Run(const std::string& installer, const std::string& signature, Lines* lines) {
    dltest::LogTail tail;
    tovik::DownloadBuffer* a = dltest::NewBuffer(installer);
    tovik::DownloadBuffer* b = dltest::NewBuffer(signature);
    bool passed = tovik::DownloadHelper::VerifyDetachedSignature(a, b);
    dltest::FreeBuffer(a);
    dltest::FreeBuffer(b);
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
      {"expired intermediate", "expiredinter.p7", false, Chain({CrlBegin(kInterCrl), "Download success"}, false)},
      {"no CRL distribution point", "nocdp.p7", true, Chain({}, true)},
      {"CRL addresses unreachable", "deadcdp.p7", true,
       Chain({CrlBegin("http://127.0.0.1/crl/missing.crl"), kCrlFailure,
              CrlBegin("http://127.0.0.1:9/crl/dead.crl"), kCrlFailure},
             true)},
      {"root carried, valid", "withroot.p7", true,
       Chain({CrlBegin(kInterCrl), "Download success", CrlBegin(kRootCrl), "Download success"}, true)},
      {"root carried, expired", "expiredroot.p7", false,
       Chain({CrlBegin(kInterCrl), "Download success", CrlBegin(kRootCrl), "Download success"}, false)},
      {"certificates issuing each other", "cycle.p7", false, Chain({}, false)},
      {"8 links up to the carried root", "links8.p7", true, Chain({}, true)},
      {"9 links up to the carried root", "links9.p7", false, Chain({}, false)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Lines lines;
    EXPECT_EQ(Run(installer_, dltest::Pki(c.signature), &lines), c.passes);
    EXPECT_EQ(lines, c.lines);
  }
}

TEST_F(Verify, SignatureOverOtherBytes) {
  for (const char* file : {"good.p7", "good-noattr.p7"}) {
    SCOPED_TRACE(file);
    ExpectContentMismatchesFail(dltest::Pki(file));
  }
  EXPECT_TRUE(server_.Requests().empty());
}

TEST_F(Verify, SignatureWithoutSignedAttributes) {
  Lines lines;
  EXPECT_TRUE(Run(installer_, dltest::Pki("good-noattr.p7"), &lines));
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
  server_.Serve("/crl/inter.crl", dltest::Pki("inter-revoked.crl"));
  Lines lines;
  EXPECT_FALSE(Run(installer_, dltest::Pki("good.p7"), &lines));
  EXPECT_EQ(lines, Chain({CrlBegin(kInterCrl), "Download success", "Cert revocation found"}, false));
}

TEST_F(Verify, CrlComesFromTheServerEveryTime) {
  // No cached copy: a second check asks the server again, and the CRL that
  // now revokes the signer is the one used.
  Lines lines;
  EXPECT_TRUE(Run(installer_, dltest::Pki("good.p7"), &lines));
  server_.Serve("/crl/inter.crl", dltest::Pki("inter-revoked.crl"));
  EXPECT_FALSE(Run(installer_, dltest::Pki("good.p7"), &lines));
  EXPECT_EQ(server_.RequestedTargets(), (std::vector<std::string>{"/crl/inter.crl", "/crl/inter.crl"}));
}

TEST_F(Verify, CycleIsBoundedWithoutFetching) {
  DWORD start = GetTickCount();
  Lines lines;
  EXPECT_FALSE(Run(installer_, dltest::Pki("cycle.p7"), &lines));
  EXPECT_LT(GetTickCount() - start, 10000u);
  EXPECT_TRUE(server_.Requests().empty());
}

}  // namespace

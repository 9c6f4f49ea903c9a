// Host tests of sign-runtime and check-runtime on the download tests' own
// test PKI (TV_TEST_PKI): every signature of tovik's verification matrix gets
// the verdict tovik gives it, altered installers and signatures are refused,
// and a signature made by sign-runtime is accepted.
#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "host_helpers.h"
#include "runtime_signature.h"

using namespace tvtest;

namespace {

std::string Pki(const std::string& name) { return ReadBytes(std::string(TV_TEST_PKI) + "/" + name); }

// The verdicts of tovik's verification matrix (tests/bootstrap/download),
// and the rule that refuses each refused one.
TEST(CheckRuntime, MatrixVerdictsAreTovik) {
  const std::string installer = Pki("installer.bin");
  const std::string root = Pki("root.der");
  struct Row {
    const char* signature;
    bool accepted;
    const char* rule;  // start of the failed rule
  } rows[] = {
      {"good.p7", true, ""},
      {"good-noattr.p7", true, ""},
      {"noeku.p7", false, "usage"},
      {"otheku.p7", false, "usage"},
      {"oneext.p7", false, "usage"},
      {"wrongou.p7", false, "name: OU"},
      {"wrongcn.p7", false, "name: CN"},
      {"otherroot.p7", false, "root"},
      {"expiredinter.p7", false, "root"},
      {"nocdp.p7", true, ""},
      {"deadcdp.p7", true, ""},
      {"withroot.p7", true, ""},
      {"expiredroot.p7", false, "root"},
      {"otherroot-cdp.p7", false, "root"},
      {"nonca.p7", false, "chain"},
      {"nobc.p7", false, "chain"},
      {"nocertsign.p7", false, "chain"},
      {"pathlen-ok.p7", true, ""},
      {"pathlen-exceeded.p7", false, "chain"},
      {"cycle.p7", false, "chain: more than 8 links"},
      {"links8.p7", true, ""},
      {"links9.p7", false, "chain: more than 8 links"},
  };
  for (const Row& row : rows) {
    const RuntimeCheck check = CheckRuntime(installer, Pki(row.signature), root);
    EXPECT_EQ(check.accepted, row.accepted) << row.signature << ": " << check.failedRule;
    EXPECT_EQ(check.failedRule.rfind(row.rule, 0), 0u) << row.signature << ": " << check.failedRule;
  }
}

TEST(CheckRuntime, AlteredBytesAreRefusedBySignatureRule) {
  const std::string installer = Pki("installer.bin");
  const std::string good = Pki("good.p7");
  std::string altered = installer;
  altered[altered.size() / 2] ^= 1;
  std::string garbage = good;
  garbage[garbage.size() - 10] ^= 1;
  struct Row {
    const char* what;
    std::string installer, signature;
  } rows[] = {
      {"installer altered by one byte", altered, good},
      {"installer one byte short", installer.substr(0, installer.size() - 1), good},
      {"empty installer", "", good},
      {"empty signature", installer, ""},
      {"signature value altered", installer, garbage},
      {"signature cut short", installer, good.substr(0, good.size() - 1)},
      {"not a signature", installer, "not a PKCS #7 message"},
  };
  for (const Row& row : rows) {
    const RuntimeCheck check = CheckRuntime(row.installer, row.signature, Pki("root.der"));
    EXPECT_FALSE(check.accepted) << row.what;
    EXPECT_EQ(check.failedRule.rfind("signature", 0), 0u) << row.what << ": " << check.failedRule;
  }
}

TEST(CheckRuntime, CrlAddressesAreListedNotFetched) {
  const RuntimeCheck check = CheckRuntime(Pki("installer.bin"), Pki("good.p7"), Pki("root.der"));
  ASSERT_TRUE(check.accepted) << check.failedRule;
  size_t addresses = 0;
  for (const std::string& line : check.lines) addresses += line.find("/crl/inter.crl") != std::string::npos;
  EXPECT_EQ(addresses, 1u);
}

TEST(SignRuntime, SignatureIsAcceptedAndBoundToTheBytes) {
  const std::string installer = Pki("installer.bin");
  struct Row {
    const char* what;
    const char* cert;
    const char* key;
    const char* chain;
    bool accepted;
  } rows[] = {
      {"maker's signer with the intermediate", "signer.pem", "signer.key", "inter.pem", true},
      {"without the intermediate", "signer.pem", "signer.key", nullptr, false},
      {"signer without the usage", "noeku.pem", "noeku.key", "inter.pem", false},
  };
  for (const Row& row : rows) {
    std::string der, error;
    ASSERT_TRUE(SignRuntime(installer, Pki(row.cert), Pki(row.key), row.chain ? Pki(row.chain) : "", &der, &error))
        << row.what << ": " << error;
    const RuntimeCheck check = CheckRuntime(installer, der, Pki("root.der"));
    EXPECT_EQ(check.accepted, row.accepted) << row.what << ": " << check.failedRule;
    EXPECT_FALSE(CheckRuntime(installer + "x", der, Pki("root.der")).accepted) << row.what;
  }
  std::string der, error;
  EXPECT_FALSE(SignRuntime(installer, Pki("signer.pem"), Pki("noeku.key"), "", &der, &error));
  EXPECT_NE(error.find("does not belong"), std::string::npos) << error;
}

// check-runtime --json: the verdict and the first rule that fails, readable
// by a machine, with the text answer's exit codes.
TEST(CheckRuntime, JsonAnswerNamesVerdictAndRule) {
  const std::string dir = TV_TEST_PKI;
  for (const auto& [signature, verdict, code] :
       {std::tuple<const char*, const char*, int>{"good.p7", "accepted", kTvpackOk},
        {"wrongcn.p7", "refused", kTvpackRefused}}) {
    const ToolRun run = Tvpack({"check-runtime", dir + "/installer.bin", dir + "/" + signature, "--root",
                                dir + "/root.der", "--json"});
    EXPECT_EQ(run.code, code) << signature << run.err;
    const std::string fields = JsonFields(run.out, "verdict,reason");
    EXPECT_EQ(fields.substr(0, fields.find('|')), verdict) << run.out;
    if (code != kTvpackOk) EXPECT_NE(fields.find("|name: CN"), std::string::npos) << run.out;
  }
}

}  // namespace

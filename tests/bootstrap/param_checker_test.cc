// The bootstrapper's parameter check over every row of its table, through an
// argument store that joins options the way the real one does.
#include "command_line.h"
#include "param_checker_core.h"
#include "tv_version.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace {

std::string capturedOutput;

class FakeStore : public tovik::ParamCheckerCore {
 public:
  explicit FakeStore(std::vector<std::string> args) : args_(std::move(args)) {}
  uint32_t paramCount() const override { return static_cast<uint32_t>(args_.size()); }
  const char* param(uint32_t index) const override { return args_.at(index).c_str(); }
  void appendOption(const char* text, bool quoteIfSpaced) override {
    // The product's quoting over the bytes, each as one character: it
    // only looks at ASCII.
    std::string piece = text;
    if (quoteIfSpaced) {
      std::wstring wide(piece.begin(), piece.end());
      for (wchar_t& c : wide) c &= 0xFF;
      std::vector<wchar_t> quoted(tovik::QuotedArgumentLength(wide.c_str()) + 1, L'\0');
      EXPECT_TRUE(tovik::AppendArgument(quoted.data(), static_cast<uint32_t>(quoted.size()), wide.c_str()));
      piece.assign(quoted.begin(), quoted.end() - 1);
    }
    options = options ? *options + " " + piece : piece;
  }
  void setAuxText(const char*) override {}
  std::optional<std::string> options;

 private:
  std::vector<std::string> args_;
};

const std::string kUsage =
    "Available Options: -silent { -eulaAccepted ( -location <dir> ) -desktopShortcut -programMenu "
    "-allowDownload }\r\n";

struct Row {
  std::vector<std::string> args;
  bool goOn;
  int32_t exitCode;
  bool allowDownload;
  bool silent;
  std::optional<std::string> options;
  std::string output;
};

void PrintTo(const Row& row, std::ostream* os) {
  for (const auto& a : row.args) *os << "[" << a << "] ";
}

class ParamCheckTable : public ::testing::TestWithParam<Row> {};

TEST_P(ParamCheckTable, Row) {
  const Row& row = GetParam();
  FakeStore store(row.args);
  capturedOutput.clear();
  bool allowDownload = true, silent = true;
  int32_t exitCode = 77;
  EXPECT_EQ(store.check(allowDownload, silent, exitCode), row.goOn);
  EXPECT_EQ(exitCode, row.exitCode);
  EXPECT_EQ(capturedOutput, row.output);
  if (row.goOn) {
    EXPECT_EQ(allowDownload, row.allowDownload);
    EXPECT_EQ(silent, row.silent);
    EXPECT_EQ(store.options, row.options);
  }
}

const std::optional<std::string> kNone;

INSTANTIATE_TEST_SUITE_P(
    Rows, ParamCheckTable,
    ::testing::Values(
        // No argument: download allowed, nothing to hand on.
        Row{{}, true, 0, true, false, kNone, ""},
        // One argument.
        Row{{"-version"}, false, 0, false, false, kNone, TV_VERSION_TEXT "\r\n"},
        Row{{"-silent"}, true, 0, false, true, "-silent", ""},
        Row{{"-allowDownload"}, false, 2, false, false, kNone, kUsage},
        Row{{"-eulaAccepted"}, false, 2, false, false, kNone, kUsage},
        Row{{"-location"}, false, 2, false, false, kNone, kUsage},
        Row{{"-desktopShortcut"}, false, 2, false, false, kNone, kUsage},
        Row{{"-programMenu"}, false, 2, false, false, kNone, kUsage},
        Row{{""}, false, 2, false, false, kNone, kUsage},
        Row{{"-Version"}, false, 2, false, false, kNone, kUsage},
        Row{{"--version"}, false, 2, false, false, kNone, kUsage},
        Row{{"/silent"}, false, 2, false, false, kNone, kUsage},
        Row{{"-SILENT"}, false, 2, false, false, kNone, kUsage},
        // Two or more arguments.
        Row{{"-silent", "-allowDownload"}, true, 0, true, true, "-silent", ""},
        Row{{"-eulaAccepted", "-allowDownload"}, true, 0, true, false, "-eulaAccepted", ""},
        Row{{"-silent", "-eulaAccepted", "-location", "C:\\My Apps", "-allowDownload"}, true, 0, true,
            true, "-silent -eulaAccepted -location \"C:\\My Apps\"", ""},
        Row{{"-desktopShortcut", "-programMenu", "-desktopShortcut"}, true, 0, false, false,
            "-desktopShortcut -programMenu -desktopShortcut", ""},
        Row{{"-allowDownload", "-allowDownload"}, true, 0, true, false, kNone, ""},
        Row{{"-programMenu", "-silent"}, false, 2, false, false, kNone, kUsage},
        Row{{"-eulaAccepted", "-silent"}, false, 2, false, false, kNone, kUsage},
        Row{{"-silent", "-silent"}, false, 2, false, false, kNone, kUsage},
        Row{{"-silent", "-location"}, false, 2, false, false, kNone, kUsage},
        Row{{"-version", "-silent"}, false, 2, false, false, kNone, kUsage},
        Row{{"-silent", "-version"}, false, 2, false, false, kNone, kUsage},
        Row{{"-silent", "--eulaAccepted"}, false, 2, false, false, kNone, kUsage},
        Row{{"-silent", "-eulaaccepted"}, false, 2, false, false, kNone, kUsage},
        Row{{"-silent", "-location=C:\\x"}, false, 2, false, false, kNone, kUsage},
        Row{{"-silent", "-allowDownload", "-x"}, false, 2, false, false, kNone, kUsage},
        // "-location" takes the next argument whatever it is.
        Row{{"-silent", "-location", "-allowDownload"}, true, 0, false, true,
            "-silent -location -allowDownload", ""},
        Row{{"-location", "-silent"}, true, 0, false, false, "-location -silent", ""},
        Row{{"-location", "-silent", "-silent"}, false, 2, false, false, kNone, kUsage},
        // Quotes in the value are kept: escaped for the child.
        Row{{"-location", "\"C:\\a b\"", "-allowDownload"}, true, 0, true, false,
            "-location \"\\\"C:\\a b\\\"\"", ""},
        // A trailing backslash is doubled before the closing quote.
        Row{{"-location", "C:\\My Apps\\", "-programMenu"}, true, 0, false, false,
            "-location \"C:\\My Apps\\\\\" -programMenu", ""},
        Row{{"-location", "C:\\ab", "-allowDownload"}, true, 0, true, false, "-location C:\\ab", ""},
        Row{{"-location", "C:\\a\tb", "-eulaAccepted"}, true, 0, false, false,
            "-location \"C:\\a\tb\" -eulaAccepted", ""},
        Row{{"-location", "C:\\\xC3\xBC ber", "-programMenu"}, true, 0, false, false,
            "-location \"C:\\\xC3\xBC ber\" -programMenu", ""},
        Row{{"-location", "", "-programMenu"}, true, 0, false, false, "-location \"\" -programMenu", "" }));

}  // namespace

// The check's text output, captured for the table above.
namespace tovik {
void WriteStandardOutput(const char* text) { capturedOutput += text; }
}  // namespace tovik

// The link markup conversion, against a control that records what it gets.
#include "link_markup.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tovik {
namespace {

struct Range {
  size_t start, end;
  bool hidden;
  bool operator==(const Range&) const = default;
};

class FakeControl final : public MarkupSink {
 public:
  void Append(const wchar_t* text) override { text_ += text; }
  size_t TextLength() override { return text_.size(); }
  void FormatLink(size_t start, size_t end, bool hidden) override { ranges_.push_back({start, end, hidden}); }

  std::wstring text_;
  std::vector<Range> ranges_;

  std::wstring Slice(const Range& r) const { return text_.substr(r.start, r.end - r.start); }
  // What a reader sees: the text without the hidden ranges.
  std::wstring Visible() const {
    std::wstring out;
    size_t at = 0;
    for (const Range& r : ranges_) {
      if (!r.hidden) continue;
      out += text_.substr(at, r.start - at);
      at = r.end;
    }
    return out + text_.substr(at);
  }
};

const std::wstring kMarker = L"<<!>>LINK<<!>>";

TEST(AppendMarkup, TwoLinksInOrderWithPlainRunsBetween) {
  FakeControl c;
  ASSERT_TRUE(AppendMarkup(L"A <a href='http://one/'>first</a> B <a href='http://two/'>second</a> C", c));
  EXPECT_EQ(c.text_, L"A http://one/" + kMarker + L"first B http://two/" + kMarker + L"second C");
  ASSERT_EQ(c.ranges_.size(), 4u);
  EXPECT_EQ(c.Slice(c.ranges_[0]), L"http://one/" + kMarker);
  EXPECT_TRUE(c.ranges_[0].hidden);
  EXPECT_EQ(c.Slice(c.ranges_[1]), L"first");
  EXPECT_FALSE(c.ranges_[1].hidden);
  EXPECT_EQ(c.Slice(c.ranges_[2]), L"http://two/" + kMarker);
  EXPECT_TRUE(c.ranges_[2].hidden);
  EXPECT_EQ(c.Slice(c.ranges_[3]), L"second");
  EXPECT_EQ(c.Visible(), L"A first B second C");
}

TEST(AppendMarkup, TextEndingWithLinkAppendsNothingAfterLabel) {
  FakeControl c;
  ASSERT_TRUE(AppendMarkup(L"see <a href='x'>here</a>", c));
  EXPECT_EQ(c.text_, L"see x" + kMarker + L"here");
  ASSERT_EQ(c.ranges_.size(), 2u);
  EXPECT_EQ(c.ranges_[1].end, c.text_.size());
}

TEST(AppendMarkup, LinkAtStartAndAdjacentLinks) {
  FakeControl c;
  ASSERT_TRUE(AppendMarkup(L"<a href='a'>1</a><a href='b'>2</a>", c));
  EXPECT_EQ(c.text_, L"a" + kMarker + L"1b" + kMarker + L"2");
  const std::vector<Range> want = {{0, 15, true}, {15, 16, false}, {16, 31, true}, {31, 32, false}};
  EXPECT_EQ(c.ranges_, want);
}

TEST(AppendMarkup, BrokenMarkupIsShownLiterallyFromTheBrokenLink) {
  const struct {
    const wchar_t* input;
    const wchar_t* text;
    size_t ranges;
  } cases[] = {
      {L"x <a href='u'>label without close", L"x <a href='u'>label without close", 0},
      {L"x <a href='u no label start</a>", L"x <a href='u no label start</a>", 0},
      {L"<A HREF='u'>upper</A>", L"<A HREF='u'>upper</A>", 0},
      {L"<a href=\"u\">double</a>", L"<a href=\"u\">double</a>", 0},
      {L"ok <a href='u'>l</a> then <a href='v'>broken", L"ok u<<!>>LINK<<!>>l then <a href='v'>broken", 2},
  };
  for (const auto& k : cases) {
    FakeControl c;
    ASSERT_TRUE(AppendMarkup(k.input, c));
    EXPECT_EQ(c.text_, k.text) << k.input;
    EXPECT_EQ(c.ranges_.size(), k.ranges) << k.input;
  }
}

TEST(AppendMarkup, PlainAndEmptyTexts) {
  FakeControl plain;
  ASSERT_TRUE(AppendMarkup(L"No markup here.\nSecond line.", plain));
  EXPECT_EQ(plain.text_, L"No markup here.\nSecond line.");
  EXPECT_TRUE(plain.ranges_.empty());
  FakeControl empty;
  ASSERT_TRUE(AppendMarkup(L"", empty));
  ASSERT_TRUE(AppendMarkup(nullptr, empty));
  EXPECT_EQ(empty.text_, L"");
}

TEST(AppendMarkup, KeepsTheCallersText) {
  const std::wstring original = L"a <a href='u'>l</a> b";
  std::wstring copy = original;
  FakeControl c;
  ASSERT_TRUE(AppendMarkup(copy.c_str(), c));
  EXPECT_EQ(copy, original);
}

TEST(CutAtLinkMarker, AddressIsWhatPrecedesTheFirstMarker) {
  std::wstring link = L"https://h/p/" + kMarker + L"label" + kMarker;
  std::vector<wchar_t> buffer(link.begin(), link.end());
  buffer.push_back(0);
  ASSERT_TRUE(CutAtLinkMarker(buffer.data()));
  EXPECT_EQ(std::wstring(buffer.data()), L"https://h/p/");

  wchar_t none[] = L"just a label";
  EXPECT_FALSE(CutAtLinkMarker(none));
  EXPECT_EQ(std::wstring(none), L"just a label");
}

}  // namespace
}  // namespace tovik

#include "support/line_store.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "test_support.h"

namespace lowtags {
namespace {

using testing::Allocations;

class LineStore : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_dup_check_ = name_lst_dup_check;
    saved_cursor_ = name_cursor;
    name_init(head_);
  }
  void TearDown() override {
    del_allname(head_);
    name_lst_dup_check = saved_dup_check_;
    name_cursor = saved_cursor_;
  }

  void Add(const std::vector<std::string>& lines) {
    for (const std::string& line : lines) {
      ASSERT_EQ(add_name(head_, line), 0);
    }
  }

  // A forward walk as the rewrite does it: mode 0, then mode 1 until null.
  static std::vector<std::string> Walk(name_lst& head, int first_mode = 0) {
    std::vector<std::string> out;
    for (auto s = get_name(head, first_mode); s; s = get_name(head, 1)) {
      out.emplace_back(*s);
    }
    return out;
  }

  // Links a node by hand, for chains with empty slots in them; s == nullptr makes an empty slot.
  static name_lst& Link(name_lst& after, const char* s) {
    after.next = std::make_unique<name_lst>();
    if (s != nullptr) {
      after.next->length = static_cast<std::uint32_t>(std::strlen(s));
      after.next->name = std::make_unique<char[]>(after.next->length + 1);
      std::memcpy(after.next->name.get(), s, after.next->length + 1);
    }
    return *after.next;
  }

  name_lst head_;
  std::int32_t saved_dup_check_ = 1;
  NameCursor saved_cursor_ = {0, 0};
};

using Lines = std::vector<std::string>;

TEST_F(LineStore, EmptyAfterInit) {
  EXPECT_FALSE(get_name(head_, 0).has_value());
  EXPECT_FALSE(get_name(head_, -1).has_value());
  del_allname(head_);
  EXPECT_EQ(head_.name, nullptr);
  EXPECT_EQ(head_.next, nullptr);
}

TEST_F(LineStore, FirstEntryGoesIntoTheHead) {
  name_lst_dup_check = 0;
  EXPECT_EQ(Allocations([&] { EXPECT_EQ(add_name(head_, "first"), 0); }), 1);  // the copy only
  ASSERT_NE(head_.name, nullptr);
  EXPECT_STREQ(head_.name.get(), "first");
  EXPECT_EQ(head_.length, 5u);
  EXPECT_EQ(head_.next, nullptr);
  EXPECT_EQ(Allocations([&] { EXPECT_EQ(add_name(head_, "second"), 0); }), 2);  // node and copy
  ASSERT_NE(head_.next, nullptr);
  EXPECT_STREQ(head_.next->name.get(), "second");
  EXPECT_EQ(head_.next->next, nullptr);
}

TEST_F(LineStore, RepeatedLinesKeptWithoutDuplicateCheck) {
  name_lst_dup_check = 0;
  Add({"same", "same", "other", "same"});
  EXPECT_EQ(Walk(head_), (Lines{"same", "same", "other", "same"}));
}

TEST_F(LineStore, DuplicateRefusedWithCheck) {
  name_lst_dup_check = 1;
  Add({"a", "b"});
  EXPECT_EQ(Allocations([&] { EXPECT_EQ(add_name(head_, "a"), 0); }), 0);
  EXPECT_EQ(add_name(head_, "b"), 0);
  Add({"A", "ab", ""});  // byte for byte: case and length count
  EXPECT_EQ(add_name(head_, ""), 0);
  EXPECT_EQ(Walk(head_), (Lines{"a", "b", "A", "ab", ""}));
}

TEST_F(LineStore, StringEndsAtNul) {
  name_lst_dup_check = 1;
  EXPECT_EQ(add_name(head_, std::string("ab\0cd", 5)), 0);
  EXPECT_EQ(add_name(head_, std::string("ab\0zz", 5)), 0);
  EXPECT_EQ(Walk(head_), (Lines{"ab"}));
}

TEST_F(LineStore, ForwardWalk) {
  Add({"l0", "l1", "l2"});
  EXPECT_EQ(get_name(head_, 0), "l0");
  EXPECT_EQ(get_name(head_, 1), "l1");
  EXPECT_EQ(get_name(head_, 1), "l2");
  EXPECT_EQ(get_name(head_, 1), std::nullopt);
  EXPECT_EQ(name_cursor.position, 3);  // left where it was at the end
  EXPECT_EQ(get_name(head_, 1), std::nullopt);
  EXPECT_EQ(name_cursor.position, 3);
}

TEST_F(LineStore, BackwardWalk) {
  Add({"l0", "l1", "l2"});
  EXPECT_EQ(Walk(head_, -1), (Lines{"l2", "l1", "l0"}));
  EXPECT_EQ(get_name(head_, 1), std::nullopt);
}

TEST_F(LineStore, TurnAroundFallsBackToTheHead) {
  Add({"l0", "l1", "l2", "l3"});
  EXPECT_EQ(get_name(head_, 0), "l0");
  EXPECT_EQ(get_name(head_, 1), "l1");
  EXPECT_EQ(get_name(head_, 1), "l2");
  EXPECT_EQ(Walk(head_, -1), (Lines{"l3", "l2", "l1", "l0"}));
  EXPECT_EQ(Walk(head_), (Lines{"l0", "l1", "l2", "l3"}));
}

TEST_F(LineStore, OtherModesContinue) {
  Add({"l0", "l1", "l2"});
  EXPECT_EQ(get_name(head_, 0), "l0");
  EXPECT_EQ(get_name(head_, 7), "l1");
  EXPECT_EQ(get_name(head_, -2), "l2");
}

TEST_F(LineStore, EmptyStringIsAnEntry) {
  ASSERT_EQ(add_name(head_, std::string_view()), 0);
  const auto s = get_name(head_, 0);
  ASSERT_TRUE(s.has_value());
  EXPECT_EQ(*s, "");
  EXPECT_EQ(get_name(head_, 1), std::nullopt);
}

TEST_F(LineStore, RefilledAfterDelete) {
  head_.value = 42;
  Add({"old0", "old1", "old2"});
  del_allname(head_);
  EXPECT_EQ(head_.name, nullptr);
  EXPECT_EQ(head_.next, nullptr);
  EXPECT_EQ(head_.value, 42);
  EXPECT_EQ(Allocations([&] { EXPECT_EQ(add_name(head_, "new0"), 0); }), 1);  // into the head again
  Add({"new1"});
  EXPECT_EQ(Walk(head_), (Lines{"new0", "new1"}));
  EXPECT_EQ(head_.value, 42);
}

TEST_F(LineStore, CursorIsSharedAcrossLists) {
  name_lst other;
  name_init(other);
  Add({"a0", "a1", "a2"});
  ASSERT_EQ(add_name(other, "b0"), 0);
  ASSERT_EQ(add_name(other, "b1"), 0);
  ASSERT_EQ(add_name(other, "b2"), 0);
  EXPECT_EQ(get_name(head_, 0), "a0");
  EXPECT_EQ(get_name(other, 1), "b1");
  EXPECT_EQ(get_name(head_, 1), "a2");
  EXPECT_EQ(get_name(other, 0), "b0");
  EXPECT_EQ(get_name(head_, 1), "a1");
  del_allname(other);
}

TEST_F(LineStore, EmptySlotsArePassedOverAndFilledFirst) {
  // head (empty) -> empty -> "b": the first add fills the head, the next one the middle slot.
  name_lst& middle = Link(head_, nullptr);
  Link(middle, "b");
  name_lst_dup_check = 1;
  EXPECT_EQ(add_name(head_, "b"), 0);  // the duplicate lies after the slot
  EXPECT_EQ(head_.name, nullptr);
  EXPECT_EQ(Walk(head_), (Lines{"b"}));
  name_lst_dup_check = 0;
  Add({"x", "y", "z"});
  EXPECT_EQ(Walk(head_), (Lines{"x", "y", "b", "z"}));
}

TEST_F(LineStore, BackwardStartCountsEmptySlots) {
  name_lst& middle = Link(head_, nullptr);
  Link(middle, "b");
  ASSERT_EQ(add_name(head_, "a"), 0);
  // Three nodes but two entries: the walk starts past the end and finds nothing.
  EXPECT_EQ(get_name(head_, -1), std::nullopt);
  EXPECT_EQ(name_cursor.position, 2);
}

TEST_F(LineStore, WalkAfterFillingASlot) {
  name_lst& middle = Link(head_, nullptr);
  Link(middle, "c");
  name_lst_dup_check = 0;
  Add({"a"});
  EXPECT_EQ(get_name(head_, 0), "a");
  EXPECT_EQ(get_name(head_, 1), "c");
  Add({"b"});  // lands before "c", which is now entry 2
  EXPECT_EQ(get_name(head_, 1), "c");
  EXPECT_EQ(get_name(head_, 1), std::nullopt);
}

TEST_F(LineStore, AppendAfterWalkIsSeen) {
  name_lst_dup_check = 0;
  Add({"a", "b"});
  EXPECT_EQ(Walk(head_), (Lines{"a", "b"}));
  Add({"c"});
  EXPECT_EQ(get_name(head_, 1), "c");
}

struct FailureCase {
  const char* name;
  int dup_check;
  Lines before;
  long fail_at;
};

class LineStoreOutOfMemory : public LineStore, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(LineStoreOutOfMemory, ChainUnchanged) {
  const FailureCase& c = GetParam();
  name_lst_dup_check = c.dup_check;
  Add(c.before);
  int result = 0;
  Allocations([&] { result = add_name(head_, "lost"); }, c.fail_at);
  EXPECT_EQ(result, -1);
  EXPECT_EQ(Walk(head_), c.before);
  Add({"kept"});
  Lines after = c.before;
  after.push_back("kept");
  EXPECT_EQ(Walk(head_), after);
}

INSTANTIATE_TEST_SUITE_P(LineStore, LineStoreOutOfMemory,
                         ::testing::Values(FailureCase{"HeadCopy", 0, {}, 0},
                                           FailureCase{"HeadCopyChecked", 1, {}, 0},
                                           FailureCase{"NodeChecked", 1, {"a"}, 0},
                                           FailureCase{"CopyChecked", 1, {"a", "b"}, 1},
                                           FailureCase{"NodeAtTail", 0, {"a", "b"}, 0},
                                           FailureCase{"CopyAtTail", 0, {"a", "b"}, 1},
                                           FailureCase{"NodeAfterHead", 0, {"a"}, 0}),
                         [](const auto& param_info) { return std::string(param_info.param.name); });

TEST_F(LineStore, MillionLines) {
  constexpr int kLines = 1'000'000;
  name_lst_dup_check = 0;
  for (int i = 0; i < kLines; ++i) {
    ASSERT_EQ(add_name(head_, std::to_string(i)), 0);
  }
  int seen = 0;
  for (auto s = get_name(head_, 0); s; s = get_name(head_, 1), ++seen) {
    ASSERT_EQ(*s, std::to_string(seen));
  }
  EXPECT_EQ(seen, kLines);
  EXPECT_EQ(get_name(head_, -1), std::to_string(kLines - 1));
  del_allname(head_);
  EXPECT_EQ(head_.next, nullptr);
  EXPECT_EQ(get_name(head_, 0), std::nullopt);
}

TEST_F(LineStore, LongChainDestroyedWithoutDelete) {
  name_lst_dup_check = 0;
  {
    name_lst local;
    name_init(local);
    for (int i = 0; i < 1'000'000; ++i) {
      ASSERT_EQ(add_name(local, "x"), 0);
    }
  }
  for (int i = 0; i < 1'000'000; ++i) {
    ASSERT_EQ(add_name(head_, "y"), 0);
  }
  name_init(head_);  // releases a long chain as well
  EXPECT_EQ(head_.next, nullptr);
}

TEST_F(LineStore, MovedHeadKeepsEntries) {
  Add({"a", "b"});
  EXPECT_EQ(get_name(head_, 0), "a");
  name_lst moved(std::move(head_));
  EXPECT_EQ(get_name(moved, 1), "b");
  EXPECT_EQ(Walk(moved), (Lines{"a", "b"}));
  name_init(head_);
  ASSERT_EQ(add_name(head_, "c"), 0);
  moved = std::move(head_);
  EXPECT_EQ(Walk(moved), (Lines{"c"}));
  ASSERT_EQ(add_name(moved, "d"), 0);
  EXPECT_EQ(Walk(moved), (Lines{"c", "d"}));
}

TEST(LineStoreFreemem, ReleasesAndIgnoresEmpty) {
  std::unique_ptr<char[]> block;
  freemem(block);
  EXPECT_EQ(block, nullptr);
  block = std::make_unique<char[]>(8);
  freemem(block);
  EXPECT_EQ(block, nullptr);
}

}  // namespace
}  // namespace lowtags

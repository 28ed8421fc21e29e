#include "util/unique_handle.h"

#include <gtest/gtest.h>

#include <vector>

namespace tw {
namespace {

std::vector<int> closed;

struct FakeTraits {
  using Type = int;
  static Type Invalid() { return -1; }
  static void Close(Type h) { closed.push_back(h); }
};
using FakeHandle = UniqueHandle<FakeTraits>;

class UniqueHandleTest : public ::testing::Test {
 protected:
  void SetUp() override { closed.clear(); }
};

TEST_F(UniqueHandleTest, MoveAssignmentClosesTheTargetsOwnHandle) {
  FakeHandle a(1);
  FakeHandle b(2);
  b = std::move(a);
  EXPECT_EQ(closed, std::vector<int>{2});
  EXPECT_EQ(b.get(), 1);
  EXPECT_FALSE(a);
}

TEST_F(UniqueHandleTest, EachHandleClosedExactlyOnce) {
  {
    FakeHandle a(1);
    FakeHandle moved(std::move(a));
    FakeHandle c(3);
    *c.put() = 4;  // put closes 3 first
    c.reset(5);    // reset closes 4
    FakeHandle d(6);
    int raw = d.release();
    EXPECT_EQ(raw, 6);
    FakeHandle none;
    EXPECT_FALSE(none);
  }
  EXPECT_EQ(closed, (std::vector<int>{3, 4, 5, 1}));
}

void RecordClose(const int* handle) { closed.push_back(*handle); }

TEST_F(UniqueHandleTest, NullMeansNoneClosesOnlyAHeldHandleThroughItsFunction) {
  using Owner = UniqueHandle<NullMeansNone<const int*, &RecordClose>>;
  const int seven = 7;
  {
    Owner none;
    Owner held(&seven);
    EXPECT_FALSE(none);
    EXPECT_TRUE(held);
    none.reset();  // nothing held: nothing closed
  }
  EXPECT_EQ(closed, std::vector<int>{7});
}

}  // namespace
}  // namespace tw

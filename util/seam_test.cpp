#include "util/seam.h"

#include <gtest/gtest.h>

namespace tw {
namespace {

int PlatformOpen() { return 1; }
int PlatformClose() { return 2; }
int StandInOpen() { return 10; }
int StandInClose() { return 20; }

struct FakeApi {
  int (*open)() = &PlatformOpen;
  int (*close)() = &PlatformClose;
};

TEST(SeamTableTest, NullEntriesStandForThePlatformAndInstallReturnsWhatItReplaced) {
  SeamTable<FakeApi, &FakeApi::open, &FakeApi::close> seam;
  EXPECT_EQ(seam.current().open, &PlatformOpen);
  EXPECT_EQ(seam.current().close, &PlatformClose);

  const FakeApi first = seam.Install(FakeApi{&StandInOpen, nullptr});
  EXPECT_EQ(first.open, &PlatformOpen);
  EXPECT_EQ(first.close, &PlatformClose);
  EXPECT_EQ(seam.current().open, &StandInOpen);
  EXPECT_EQ(seam.current().close, &PlatformClose);  // null: the platform call

  const FakeApi second = seam.Install(FakeApi{nullptr, &StandInClose});
  EXPECT_EQ(second.open, &StandInOpen);  // the table it replaced, not the new one
  EXPECT_EQ(second.close, &PlatformClose);
  EXPECT_EQ(seam.current().open, &PlatformOpen);
  EXPECT_EQ(seam.current().close, &StandInClose);

  seam.Install(FakeApi{nullptr, nullptr});
  EXPECT_EQ(seam.current().open, &PlatformOpen);
  EXPECT_EQ(seam.current().close, &PlatformClose);
}

}  // namespace
}  // namespace tw

#include "util/exception_text.h"

#include <gtest/gtest.h>

#include <functional>
#include <new>
#include <stdexcept>
#include <string>

namespace tw {
namespace {

TEST(CurrentExceptionWhatTest, GivesWhatOrStandsInForIt) {
  struct Case {
    const char* name;
    std::function<void()> raise;
    std::string want;
  };
  const Case cases[] = {
      {"std::exception", [] { throw std::runtime_error("disk gone"); }, "disk gone"},
      {"derived, caught as std::exception", [] { throw std::bad_alloc(); },
       std::bad_alloc().what()},
      {"an int", [] { throw 42; }, "unknown exception"},
      {"a string literal", [] { throw "text"; }, "unknown exception"},
  };
  for (const Case& c : cases) {
    std::string seen;
    try {
      c.raise();
    } catch (...) {
      seen = CurrentExceptionWhat();
    }
    EXPECT_EQ(seen, c.want) << c.name;
  }
}

TEST(CurrentExceptionWhatTest, TextLivesWhileTheHandlerRuns) {
  try {
    throw std::runtime_error(std::string(200, 'x'));  // beyond any small-string buffer
  } catch (...) {
    const char* what = CurrentExceptionWhat();
    // Another exception thrown and handled meanwhile leaves it alone.
    try {
      throw std::logic_error("inner");
    } catch (...) {
      EXPECT_STREQ(CurrentExceptionWhat(), "inner");
    }
    EXPECT_EQ(std::string(what), std::string(200, 'x'));
  }
}

}  // namespace
}  // namespace tw

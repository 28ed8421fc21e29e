// Collects what is written to std::cerr while it lives, for tests that check
// the exact diagnostic lines a piece of code writes.
//
// Example:
//
//   tw::test::CerrCapture cerr;
//   Decode(bytes);
//   EXPECT_THAT(cerr.lines(), ElementsAre(kInvalidRead));
//
// Only std::cerr is redirected (not the C stream stderr); captures nest, the
// innermost one receiving. Not thread-safe.
#ifndef TESTING_STDERR_CAPTURE_H_
#define TESTING_STDERR_CAPTURE_H_

#include <cstddef>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

namespace tw::test {

class CerrCapture {
 public:
  CerrCapture() : saved_(std::cerr.rdbuf(captured_.rdbuf())) {}
  ~CerrCapture() { std::cerr.rdbuf(saved_); }
  CerrCapture(const CerrCapture&) = delete;
  CerrCapture& operator=(const CerrCapture&) = delete;

  std::string text() const { return captured_.str(); }

  // Every line, each of which must have ended with a newline (a last line
  // without one is marked "<no newline>").
  std::vector<std::string> lines() const {
    std::vector<std::string> out;
    std::string all = captured_.str();
    std::size_t start = 0;
    while (start < all.size()) {
      std::size_t end = all.find('\n', start);
      if (end == std::string::npos) {
        out.push_back(all.substr(start) + "<no newline>");
        break;
      }
      out.push_back(all.substr(start, end - start));
      start = end + 1;
    }
    return out;
  }

 private:
  std::ostringstream captured_;
  std::streambuf* saved_;
};

}  // namespace tw::test

#endif  // TESTING_STDERR_CAPTURE_H_

// Collects everything written to standard error while it lives, for tests
// that check the exact diagnostic lines a piece of code writes.
//
// Example:
//
//   tw::test::StderrCapture err;
//   Decode(bytes);
//   EXPECT_THAT(err.TakeLines(), ElementsAre(kInvalidRead));
//
// The capture is of the standard error file descriptor itself, so it holds
// what std::cerr, fprintf(stderr) and code in another module (the engine
// library) write. Only one capture can be alive at a time, and it is not
// thread-safe. Take() or TakeLines() ends it; otherwise its destructor does,
// dropping the text.
#ifndef TESTING_STDERR_CAPTURE_H_
#define TESTING_STDERR_CAPTURE_H_

#include <gtest/gtest.h>

#include <cstddef>
#include <string>
#include <vector>

namespace tw::test {

class StderrCapture {
 public:
  StderrCapture() { ::testing::internal::CaptureStderr(); }
  ~StderrCapture() {
    if (!taken_) ::testing::internal::GetCapturedStderr();
  }
  StderrCapture(const StderrCapture&) = delete;
  StderrCapture& operator=(const StderrCapture&) = delete;

  // Ends the capture and returns what was written.
  std::string Take() {
    taken_ = true;
    return ::testing::internal::GetCapturedStderr();
  }

  // Ends the capture and returns every line written, each of which must have
  // ended with a newline (a last line without one is marked "<no newline>").
  std::vector<std::string> TakeLines() {
    std::vector<std::string> out;
    const std::string all = Take();
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
  bool taken_ = false;
};

}  // namespace tw::test

#endif  // TESTING_STDERR_CAPTURE_H_

#include "channels/engine_method_result.h"

#include <iostream>
#include <string>
#include <utility>

#include "util/exception_text.h"

namespace flutter {

OneTimeReply::OneTimeReply(ReplyCallback reply) : reply_(std::move(reply)) {}

OneTimeReply::~OneTimeReply() {
  if (reply_) {
    std::cerr << "Warning: Failed to respond to a message. This is a memory leak." << std::endl;
  }
}

void OneTimeReply::SendResponse(const std::vector<uint8_t>* reply) {
  if (!reply_) {
    std::cerr << "Error: Only one of Success, Error, or NotImplemented can be called,"
              << " and it can be called exactly once. Ignoring duplicate result." << std::endl;
    return;
  }
  const uint8_t* data = reply != nullptr && !reply->empty() ? reply->data() : nullptr;
  const size_t size = reply != nullptr ? reply->size() : 0;
  // Spent before the call, so that an answer given from inside the callback
  // is caught as a duplicate; the callback itself (and whatever it holds,
  // such as the engine's messenger) is released right after its call.
  ReplyCallback callback = std::exchange(reply_, nullptr);
  callback(data, size);
}

std::string CurrentExceptionText() noexcept {
  try {
    return tw::CurrentExceptionWhat();
  } catch (...) {
    // Copying the text itself ran out of memory.
    return std::string();
  }
}

}  // namespace flutter

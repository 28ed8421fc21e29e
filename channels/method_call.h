// A method call from the UI and the result through which it is answered.
//
// A handler receives the call as a read-only reference that is valid only
// while the handler runs, and the result as an exclusively owned pointer. It
// answers exactly once, with exactly one of Success, Error or NotImplemented;
// the results that carry answers to the engine report a second answer or a
// missing one.
//
// Example:
//   void Handle(const flutter::MethodCall<>& call,
//               std::unique_ptr<flutter::MethodResult<>> result) {
//     if (call.method_name() == "ping") {
//       result->Success(flutter::EncodableValue(true));
//     } else {
//       result->NotImplemented();
//     }
//   }
#ifndef CHANNELS_METHOD_CALL_H_
#define CHANNELS_METHOD_CALL_H_

#include <memory>
#include <string>
#include <utility>

#include "channels/encodable_value.h"

namespace flutter {

template <typename T = EncodableValue>
class MethodCall {
 public:
  // A call built without arguments reports them as absent; a decoded call
  // always carries a value (null when the UI sent none).
  MethodCall(std::string method_name, std::unique_ptr<T> arguments)
      : method_name_(std::move(method_name)), arguments_(std::move(arguments)) {}
  virtual ~MethodCall() = default;

  MethodCall(const MethodCall&) = delete;
  MethodCall& operator=(const MethodCall&) = delete;

  const std::string& method_name() const { return method_name_; }

  // The arguments, or null when the call has none.
  const T* arguments() const { return arguments_.get(); }

 private:
  std::string method_name_;
  std::unique_ptr<T> arguments_;
};

template <typename T = EncodableValue>
class MethodResult {
 public:
  MethodResult() = default;
  virtual ~MethodResult() = default;

  MethodResult(const MethodResult&) = delete;
  MethodResult& operator=(const MethodResult&) = delete;

  // Success with an optional value; null means success without a value.
  // The value is read during the call and not kept.
  virtual void Success(const T* result) = 0;

  // An error with a code, a message and optional details, read during the
  // call and not kept.
  virtual void Error(const std::string& error_code, const std::string& error_message,
                     const T* error_details) = 0;

  // The method is not known to the handler: an empty response.
  virtual void NotImplemented() = 0;

  // Conveniences over the operations above.
  void Success() { Success(static_cast<const T*>(nullptr)); }
  void Success(const T& result) { Success(&result); }
  void Error(const std::string& error_code, const std::string& error_message = "") {
    Error(error_code, error_message, static_cast<const T*>(nullptr));
  }
};

}  // namespace flutter

#endif  // CHANNELS_METHOD_CALL_H_

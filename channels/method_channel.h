// A named conversation with the UI that carries method calls.
//
// MethodChannel decodes each message that arrives on its name into a
// MethodCall and hands it, with a fresh EngineMethodResult, to the handler
// set with SetMethodCallHandler; the handler's answer travels back as a
// reply envelope. A message that holds no call writes
// "Unable to construct method call from message on channel <name>" to
// standard error and is answered with an empty response.
//
// A handler that throws writes "Error: method call handler threw: <what>"
// (<what> is the exception's what(), or "unknown exception" for one that is
// not a std::exception), and the call, unless answered already, gets the
// error answer with code "error", that text as message and no details. A
// handler may replace or clear its own channel's handler while it runs; the
// running call keeps it alive until it returns.
//
// The registration lives in the messenger, not in this object: the channel
// may be discarded once its handler is set. Messages are handled on the
// platform (window) thread.
//
// Example:
//   flutter::MethodChannel<> channel(&messenger, "fernbrook/security",
//                                    &flutter::StandardMethodCodec::GetInstance());
//   channel.SetMethodCallHandler(
//       [](const flutter::MethodCall<>& call,
//          std::unique_ptr<flutter::MethodResult<>> result) { result->NotImplemented(); });
#ifndef CHANNELS_METHOD_CHANNEL_H_
#define CHANNELS_METHOD_CHANNEL_H_

#include <functional>
#include <memory>
#include <string>

#include "channels/binary_messenger.h"
#include "channels/encodable_value.h"
#include "channels/method_call.h"
#include "channels/standard_method_codec.h"

namespace flutter {

// Handles one call: (read-only call, valid only while the handler runs;
// exclusively owned result, which may be kept and answered later). May be
// empty.
template <typename T = EncodableValue>
using MethodCallHandler =
    std::function<void(const MethodCall<T>& call, std::unique_ptr<MethodResult<T>> result)>;

template <typename T = EncodableValue>
class MethodChannel {
 public:
  // `messenger` and `codec` are not owned and must outlive every message on
  // the channel. No engine call is made.
  MethodChannel(BinaryMessenger* messenger, const std::string& name, const MethodCodec<T>* codec);
  ~MethodChannel();

  MethodChannel(const MethodChannel&) = delete;
  MethodChannel& operator=(const MethodChannel&) = delete;

  // Registers `handler` for this channel's name, replacing any earlier
  // registration on that name; an empty handler removes it.
  void SetMethodCallHandler(MethodCallHandler<T> handler) const;

 private:
  BinaryMessenger* messenger_;
  std::string name_;
  const MethodCodec<T>* codec_;
};

// Defined for EncodableValue, the only value type that crosses the channels.
extern template class MethodChannel<EncodableValue>;

}  // namespace flutter

#endif  // CHANNELS_METHOD_CHANNEL_H_

#include "runner/flutter_window.h"

#include <memory>
#include <utility>

#include "channels/method_channel.h"
#include "channels/standard_method_codec.h"
#include "discord/discord_ipc.h"
#include "discord/discord_rpc_channel_handler.h"
#include "security/security_channel_handler.h"

namespace tw::runner {

FlutterWindow::FlutterWindow(const EngineProject& project) : project_(project) {}

FlutterWindow::~FlutterWindow() {
  // OnDestroy does not run for this class from here on: the base destructor
  // only sees the base hooks, so the controller goes now.
  view_controller_.reset();
}

bool FlutterWindow::OnCreate() {
  if (!Win32Window::OnCreate()) return false;

  const RECT frame = GetClientBounds();
  view_controller_ = std::make_unique<flutter::FlutterViewController>(
      frame.right - frame.left, frame.bottom - frame.top, project_);
  if (view_controller_->GetEngine() == nullptr || view_controller_->GetView() == nullptr) {
    return false;
  }

  flutter::BinaryMessenger* messenger = view_controller_->GetEngine()->GetMessenger();
  const auto& codec = flutter::StandardMethodCodec::GetInstance();

  // The channels are never freed: their registrations live in the messenger,
  // which carries everything dispatch needs and ends with the controller.
  // Nothing touches the channel objects after their handler is set.
  auto* security =
      new flutter::MethodChannel<flutter::EncodableValue>(messenger, "fernbrook/security", &codec);
  security->SetMethodCallHandler(
      [](const flutter::MethodCall<flutter::EncodableValue>& call,
         std::unique_ptr<flutter::MethodResult<flutter::EncodableValue>> result) {
        tw::security::SecurityChannelHandler(call, std::move(result));
      });

  auto* discord = new flutter::MethodChannel<flutter::EncodableValue>(
      messenger, "tidewarden/discord_rpc", &codec);
  discord->SetMethodCallHandler(
      [](const flutter::MethodCall<flutter::EncodableValue>& call,
         std::unique_ptr<flutter::MethodResult<flutter::EncodableValue>> result) {
        tw::discord::DiscordRpcChannelHandler(call, std::move(result));
      });

  SetContentWindow(view_controller_->GetView()->GetHWND());

  // Created hidden; shown once there is something to show.
  view_controller_->GetEngine()->SetNextFrameCallback([this]() { this->Show(); });
  view_controller_->ForceRedraw();
  return true;
}

void FlutterWindow::OnDestroy() {
  // Before the engine goes, so that no activity outlives the launcher's UI.
  tw::discord::StopDiscordPresence();
  if (view_controller_) {
    std::unique_ptr<flutter::FlutterViewController> controller = std::move(view_controller_);
    controller.reset();
  }
  Win32Window::OnDestroy();
}

LRESULT FlutterWindow::HandleMessage(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (view_controller_) {
    std::optional<LRESULT> result =
        view_controller_->HandleTopLevelWindowProc(window, message, wparam, lparam);
    if (result) return *result;
  }
  if (message == WM_FONTCHANGE && view_controller_) {
    view_controller_->GetEngine()->ReloadSystemFonts();
  }
  return Win32Window::HandleMessage(window, message, wparam, lparam);
}

}  // namespace tw::runner

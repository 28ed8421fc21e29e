// The development engine's script player: after the first frame it plays
// the scripted UI's steps (ui_script.h) one posted message at a time, so that
// the host's message loop runs between them, and records each step and each
// reply in the transcript.
#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <iostream>
#include <string>
#include <vector>

#include "tools/flutter_windows/view_state.h"
#include "tools/flutter_windows/wire_format.h"
#include "util/file_io.h"
#include "util/hex.h"
#include "util/utf.h"

namespace dev_engine {
namespace {

std::string StateName(int32_t state) {
  switch (state) {
    case kDevEngineReplyPending:
      return "pending";
    case kDevEngineReplyAnswered:
      return "answered";
    case kDevEngineReplyUnhandled:
      return "unhandled";
    case kDevEngineReplyAbandoned:
      return "abandoned";
    default:
      return "none";
  }
}

void RunMessageStep(FlutterDesktopViewController* controller, const ScriptStep& step) {
  const int number = ++controller->messages_sent;
  NoteLine("script send " + std::to_string(number) + " " + step.channel + " " + step.label +
           " bytes=" + tw::ToLowerHex(step.message.data(), step.message.size()));
  const uint64_t id = DevEngineDeliverMessage(controller->engine, step.channel.c_str(),
                                              step.message.data(), step.message.size());
  DevEngineReplyInfo info{};
  std::vector<uint8_t> reply(1 << 16);
  DevEngineGetReply(id, &info, reply.data(), reply.size());
  if (info.size > reply.size()) {
    reply.resize(info.size);
    DevEngineGetReply(id, &info, reply.data(), reply.size());
  }
  reply.resize(std::min(reply.size(), info.size));
  const std::string decoded = DescribeReply(reply.data(), reply.size());
  NoteLine("script reply " + std::to_string(number) + " " + step.channel + " " + step.label +
           " state=" + StateName(info.state) +
           " bytes=" + tw::ToLowerHex(reply.data(), reply.size()) + " decoded=" + decoded);
  AddLog(controller, step.channel + " " + step.label + " -> " + decoded);
  if (!World::KeepHistory() && info.state != kDevEngineReplyPending) DevEngineForgetMessage(id);
}

size_t CountInTranscript(const std::string& needle) {
  World& world = World::Get();
  std::lock_guard<std::mutex> guard(world.mutex);
  size_t count = 0;
  for (size_t at = world.transcript.find(needle); at != std::string::npos;
       at = world.transcript.find(needle, at + 1)) {
    ++count;
  }
  return count;
}

void RunStep(FlutterDesktopViewController* controller, const ScriptStep& step) {
  using Kind = ScriptStep::Kind;
  HWND top = TopLevel(controller);
  switch (step.kind) {
    case Kind::kCall:
    case Kind::kRaw:
      RunMessageStep(controller, step);
      break;
    case Kind::kFontChange: {
      const size_t before = CountInTranscript("reload-system-fonts");
      ::SendMessageW(top, WM_FONTCHANGE, 0, 0);
      const size_t reloads = CountInTranscript("reload-system-fonts") - before;
      NoteLine("script font-change fonts-reloaded=" + std::to_string(reloads));
      AddLog(controller, "WM_FONTCHANGE");
      break;
    }
    case Kind::kResize: {
      RECT before{};
      ::GetClientRect(controller->view.hwnd, &before);
      ::SetWindowPos(top, nullptr, 0, 0, step.numbers[0], step.numbers[1],
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
      RECT view{}, client{};
      ::GetClientRect(controller->view.hwnd, &view);
      ::GetClientRect(top, &client);
      const bool follows = view.right == client.right && view.bottom == client.bottom;
      const bool unchanged = view.right == before.right && view.bottom == before.bottom;
      NoteLine(std::string("script resize view=") +
               (follows && !unchanged ? "follows"
                : unchanged           ? "unchanged"
                                      : "other") +
               " client=" + RectText(client) + " view=" + RectText(view));
      break;
    }
    case Kind::kDpiChanged: {
      RECT suggested{step.numbers[1], step.numbers[2], step.numbers[3], step.numbers[4]};
      ::SendMessageW(top, WM_DPICHANGED, MAKEWPARAM(step.numbers[0], step.numbers[0]),
                     reinterpret_cast<LPARAM>(&suggested));
      RECT window{};
      ::GetWindowRect(top, &window);
      NoteLine("script dpi-changed window=" + RectText(window));
      break;
    }
    case Kind::kDestroyWaitsForEvent:
      controller->destroy_event = step.name;
      controller->destroy_wait_ms = step.numbers[0];
      NoteLine("script destroy-waits-for-event " + step.name);
      break;
    case Kind::kPause:
      NoteLine("script pause " + std::to_string(step.numbers[0]));
      break;
    case Kind::kStats: {
      // The launcher and this library share the process: these are the
      // launcher's figures, plus this library's own bookkeeping, which
      // DEV_ENGINE_HISTORY=off keeps from growing. Handles are counted by
      // probing handle values, since not every platform layer implements
      // GetProcessHandleCount; memory is the commit charge and working set.
      size_t handles = 0;
      for (ULONG_PTR value = 4; value < 0x10000; value += 4) {
        DWORD flags = 0;
        if (::GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags)) ++handles;
      }
      PROCESS_MEMORY_COUNTERS memory{};
      memory.cb = sizeof(memory);
      ::GetProcessMemoryInfo(::GetCurrentProcess(), &memory, sizeof(memory));
      NoteLine("script stats messages=" + std::to_string(controller->messages_sent) + " handles=" +
               std::to_string(handles) + " commit=" + std::to_string(memory.PagefileUsage) +
               " working-set=" + std::to_string(memory.WorkingSetSize));
      break;
    }
    case Kind::kHold:
      NoteLine("script hold");
      break;
  }
}

}  // namespace

void LoadScript(FlutterDesktopViewController* controller) {
  std::wstring path;
  {
    World& world = World::Get();
    std::lock_guard<std::mutex> guard(world.mutex);
    const std::string flag = "--dev-ui-script=";
    for (const std::string& argument : controller->engine->entry_point_arguments) {
      if (argument.compare(0, flag.size(), flag) == 0)
        path = tw::Utf8ToUtf16Lossy(argument.substr(flag.size()));
    }
    if (path.empty()) path = controller->engine->assets_path + L"\\dev_ui_script.txt";
  }
  std::string text;
  if (!tw::ReadWholeFile(ResolvePath(path), &text)) {
    NoteLine("script none (" + tw::WideToUtf8Lossy(path) + "): the UI stays open");
    AddLog(controller, "No UI script; close the window to quit.");
    return;
  }
  std::string error;
  if (!ParseScript(text, &controller->steps, &error)) {
    std::cerr << "dev engine: UI script " << tw::WideToUtf8Lossy(path) << ": " << error
              << std::endl;
    NoteLine("script error " + error);
    controller->steps.clear();
  }
  controller->script_loaded = true;
  controller->close_at_end = true;
  NoteLine("script loaded " + std::to_string(controller->steps.size()) + " steps");
}

void NextStep(FlutterDesktopViewController* controller) {
  if (controller->next_step < controller->steps.size()) {
    const ScriptStep& step = controller->steps[controller->next_step++];
    RunStep(controller, step);
    RequestFrame(controller);
    using Kind = ScriptStep::Kind;
    if (step.kind == Kind::kHold) {
      controller->next_step = controller->steps.size();
      controller->close_at_end = false;
      return;
    }
    if (step.kind == Kind::kPause) {
      ::SetTimer(controller->view.hwnd, kPauseTimer, static_cast<UINT>(step.numbers[0]), nullptr);
      return;
    }
    ::PostMessageW(controller->view.hwnd, kStepMessage, 0, 0);
    return;
  }
  if (controller->close_at_end) {
    controller->close_at_end = false;
    NoteLine("script end");
    HWND top = TopLevel(controller);
    if (top != nullptr) ::PostMessageW(top, WM_CLOSE, 0, 0);
  }
}

}  // namespace dev_engine

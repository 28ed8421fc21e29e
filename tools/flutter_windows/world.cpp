// The process-wide record of the development engine, and the hooks that read
// it. Portable: the host build's core has it too.
#ifdef _WIN32
#include <windows.h>
#endif

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>

#include "tools/flutter_windows/dev_state.h"

namespace dev_engine {

void OwnedLock::Lock() {
  std::unique_lock<std::mutex> guard(mutex_);
  const std::thread::id me = std::this_thread::get_id();
  if (depth_ > 0 && owner_ == me) {
    ++depth_;
    return;
  }
  released_.wait(guard, [this] { return depth_ == 0; });
  owner_ = me;
  depth_ = 1;
}

bool OwnedLock::Unlock() {
  std::lock_guard<std::mutex> guard(mutex_);
  if (depth_ == 0 || owner_ != std::this_thread::get_id()) return false;
  if (--depth_ == 0) {
    owner_ = std::thread::id();
    released_.notify_all();
  }
  return true;
}

int OwnedLock::DepthHeldByCaller() {
  std::lock_guard<std::mutex> guard(mutex_);
  return depth_ > 0 && owner_ == std::this_thread::get_id() ? depth_ : 0;
}

World& World::Get() {
  // Never destroyed: hosts may call in while the process is shutting down.
  static World* world = new World();
  return *world;
}

FlutterDesktopEngine* World::FindEngine(const void* handle) {
  if (handle == nullptr || engine_addresses.count(handle) == 0) return nullptr;
  return static_cast<FlutterDesktopEngine*>(const_cast<void*>(handle));
}

FlutterDesktopMessenger* World::FindMessenger(const void* handle) {
  if (handle == nullptr || messenger_addresses.count(handle) == 0) return nullptr;
  return static_cast<FlutterDesktopMessenger*>(const_cast<void*>(handle));
}

std::string EnvironmentValue(const char* name) {
#ifdef _WIN32
  // The process environment itself: a test may change it after start-up.
  char value[256];
  const DWORD n = ::GetEnvironmentVariableA(name, value, sizeof value);
  return n > 0 && n < sizeof value ? std::string(value, n) : std::string();
#else
  const char* value = std::getenv(name);
  return value != nullptr ? std::string(value) : std::string();
#endif
}

bool World::KeepHistory() {
  static const bool keep = EnvironmentValue("DEV_ENGINE_HISTORY") != "off";
  return keep;
}

namespace {

// The transcript file named by DEV_ENGINE_TRANSCRIPT, opened for appending,
// or null.
FILE* OpenTranscriptFile() {
#ifdef _WIN32
  wchar_t path[MAX_PATH] = {};
  const DWORD n = ::GetEnvironmentVariableW(L"DEV_ENGINE_TRANSCRIPT", path, MAX_PATH);
  return n > 0 && n < MAX_PATH ? _wfopen(path, L"ab") : nullptr;
#else
  const std::string path = EnvironmentValue("DEV_ENGINE_TRANSCRIPT");
  return path.empty() ? nullptr : std::fopen(path.c_str(), "ab");
#endif
}

}  // namespace

void World::Note(const std::string& line) {
  if (KeepHistory()) {
    transcript += line;
    transcript += '\n';
  }
  // A test reads the transcript after the process has ended, also when it
  // ended badly: every line goes to the file at once.
  static FILE* file = OpenTranscriptFile();
  if (file != nullptr) {
    std::fwrite(line.data(), 1, line.size(), file);
    std::fputc('\n', file);
    std::fflush(file);
  }
}

void World::Misuse(DevEngineMisuseKind kind, const std::string& what) {
  const std::string line = "dev engine: misuse: " + what;
  std::cerr << line << std::endl;
  Note(line);
  ++misuse_counts[static_cast<size_t>(kind)];
  ++misuse_counts[kDevEngineMisuseAny];
}

}  // namespace dev_engine

using dev_engine::World;

extern "C" {

DEV_ENGINE_API size_t DevEngineMisuseCount(int32_t kind) {
  World& world = World::Get();
  std::lock_guard<std::mutex> guard(world.mutex);
  if (kind < 0 || static_cast<size_t>(kind) >= world.misuse_counts.size()) return 0;
  return world.misuse_counts[static_cast<size_t>(kind)];
}

DEV_ENGINE_API size_t DevEngineTranscript(char* buffer, size_t capacity) {
  World& world = World::Get();
  std::lock_guard<std::mutex> guard(world.mutex);
  const std::string& text = world.transcript;
  if (buffer != nullptr && capacity > 0) {
    const size_t n = std::min(capacity - 1, text.size());
    std::memcpy(buffer, text.data(), n);
    buffer[n] = '\0';
  }
  return text.size();
}

DEV_ENGINE_API void DevEngineReset(void) {
  World& world = World::Get();
  std::lock_guard<std::mutex> guard(world.mutex);
  world.transcript.clear();
  world.misuse_counts.fill(0);
  world.lock_returns_null = false;
  world.add_ref_returns_null = false;
}

DEV_ENGINE_API void DevEngineSetFault(int32_t fault, bool on) {
  World& world = World::Get();
  std::lock_guard<std::mutex> guard(world.mutex);
  if (fault == kDevEngineFaultLockReturnsNull) {
    world.lock_returns_null = on;
  } else if (fault == kDevEngineFaultAddRefReturnsNull) {
    world.add_ref_returns_null = on;
  } else {
    world.Misuse(kDevEngineMisuseBadArguments,
                 "DevEngineSetFault with unknown fault " + std::to_string(fault));
  }
}

}  // extern "C"

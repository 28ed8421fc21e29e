# Compile options shared by every project target.
#
# tw_project_target(<target>) applies warnings-as-errors and, for Windows,
# the Win32 definitions, so that third-party code (GoogleTest) keeps its own
# flags. It adds no include folder: a target gets project headers only from
# the libraries it links (tw_project_library), so that an edge through headers
# is an edge of the build.
option(TW_SANITIZE "Build with AddressSanitizer and UBSan" OFF)
option(TW_FUZZ "Build libFuzzer targets (clang)" OFF)
option(TW_BENCHMARKS "Build the benchmark programs in benchmarks/ (never shipped)" OFF)

if(TW_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=address,undefined)
endif()

if(TW_FUZZ)
  # Coverage for libFuzzer in every library; the targets in fuzz/ add the
  # libFuzzer main.
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()

# Hardening of every Windows PE file the build makes (the launcher, the
# engine library, the tools and the tests alike):
# - a stack canary in every function with an array or an address-taken local,
#   and the checked variants of the string and memory calls where the size is
#   known at compile time (libssp provides both at run time, linked statically);
# - CET marks (shadow stack compatible, indirect branch tracking) on every
#   function;
# - ASLR with 64-bit entropy, relocations kept, DEP;
# - subsystem version 6.2 (Windows 8), which older loaders refuse and newer
#   ones need for their own mitigations;
# - terminal-server aware executables, so that Remote Desktop does not
#   redirect their registry and INI access.
# scripts/pe-check verifies every one of these on the files that ship.
if(MINGW)
  add_compile_options(-fstack-protector-strong -fcf-protection=full)
  add_compile_definitions(_FORTIFY_SOURCE=2)
  add_link_options(-Wl,--dynamicbase -Wl,--high-entropy-va -Wl,--nxcompat -Wl,--enable-reloc-section
                   -Wl,--major-subsystem-version,6 -Wl,--minor-subsystem-version,2)
  string(APPEND CMAKE_EXE_LINKER_FLAGS " -Wl,--tsaware")
  string(APPEND CMAKE_C_STANDARD_LIBRARIES " -lssp")
  string(APPEND CMAKE_CXX_STANDARD_LIBRARIES " -lssp")
endif()

function(tw_project_target target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Werror)
  if(WIN32)
    target_compile_definitions(${target} PUBLIC
      WIN32_LEAN_AND_MEAN NOMINMAX UNICODE _UNICODE _WIN32_WINNT=0x0A00 WINVER=0x0A00)
  endif()
endfunction()

# tw_project_library(<target>): a project library. Its headers are included
# from the repository root ("channels/method_call.h"), so the root is the
# include folder it gives to the targets that link it.
function(tw_project_library target)
  tw_project_target(${target})
  target_include_directories(${target} PUBLIC $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}>)
endfunction()

# tw_project_headers(<target>): the same for a header-only (INTERFACE)
# library.
function(tw_project_headers target)
  target_include_directories(${target} INTERFACE $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}>)
endfunction()

# tw_wide_entry_point(<target>): a Windows program whose entry point is wmain
# or wWinMain. mingw-w64 needs -municode to pick it; MSVC finds it by itself.
function(tw_wide_entry_point target)
  if(MINGW)
    target_link_options(${target} PRIVATE -municode)
  endif()
endfunction()

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

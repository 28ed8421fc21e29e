# Compile options shared by every project target.
#
# tw_project_target(<target>) applies warnings-as-errors and, for Windows,
# the Win32 definitions, so that third-party code (GoogleTest) keeps its own
# flags.
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
  target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR})
  if(WIN32)
    target_compile_definitions(${target} PUBLIC
      WIN32_LEAN_AND_MEAN NOMINMAX UNICODE _UNICODE _WIN32_WINNT=0x0A00 WINVER=0x0A00)
  endif()
endfunction()

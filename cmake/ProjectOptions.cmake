# Compile options shared by every project target.
#
# tw_project_target(<target>) applies warnings-as-errors and, for Windows,
# the Win32 definitions, so that third-party code (GoogleTest) keeps its own
# flags.
option(TW_SANITIZE "Build with AddressSanitizer and UBSan" OFF)
option(TW_FUZZ "Build libFuzzer targets (clang)" OFF)

if(TW_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=address,undefined)
endif()

function(tw_project_target target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Werror)
  target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR})
  if(WIN32)
    target_compile_definitions(${target} PUBLIC
      WIN32_LEAN_AND_MEAN NOMINMAX UNICODE _UNICODE _WIN32_WINNT=0x0A00 WINVER=0x0A00)
  endif()
endfunction()

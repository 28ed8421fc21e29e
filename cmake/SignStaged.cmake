# CPack runs this after it has staged the launcher component (stripping the
# project's PE files) and before makensis packs it: every PE file in the
# staging folder is signed there, so the setup program carries signed files
# whose unsigned bytes are the stripped build's. cmake/sign-pe does nothing
# when no certificate is given, and leaves a file signed by its maker alone.
file(GLOB_RECURSE tw_pe_files LIST_DIRECTORIES false
     "${CPACK_TEMPORARY_DIRECTORY}/*.exe" "${CPACK_TEMPORARY_DIRECTORY}/*.dll")
list(SORT tw_pe_files)
if(tw_pe_files)
  execute_process(COMMAND "${CPACK_TW_SIGN_PE}" ${tw_pe_files} RESULT_VARIABLE tw_sign_result)
  if(NOT tw_sign_result EQUAL 0)
    # CPack goes on to makensis after a failed pre-build script: without the
    # files it cannot make a setup program with unsigned ones in it.
    file(REMOVE ${tw_pe_files})
    message(FATAL_ERROR "Signing the staged files failed (${tw_sign_result})")
  endif()
endif()

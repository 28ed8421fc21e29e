# Engine plumbing of the channel layer: binary messenger, engine method
# results and method channels. Included at the end of channels/CMakeLists.txt.
#
# On Windows the messenger calls the engine library through its import
# library (the development flutter_windows.dll here; the real engine library
# replaces it at run time). On other builds the engine functions are left to
# the program: the host tests supply fakes.
target_sources(channels PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/binary_messenger.cpp
  ${CMAKE_CURRENT_LIST_DIR}/engine_method_result.cpp
  ${CMAKE_CURRENT_LIST_DIR}/method_channel.cpp
)
target_link_libraries(channels PRIVATE util)
if(WIN32)
  target_link_libraries(channels PUBLIC flutter_windows)
endif()

if(BUILD_TESTING)
  # Portable: results and channels over fakes of the codec and messenger.
  set(_plumbing_tests
    ${CMAKE_CURRENT_LIST_DIR}/engine_method_result_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/method_channel_test.cpp
  )
  if(WIN32)
    # Through the development engine library's real C interface, under Wine.
    list(APPEND _plumbing_tests ${CMAKE_CURRENT_LIST_DIR}/engine_plumbing_test.cpp)
  else()
    # The messenger against fake engine functions.
    list(APPEND _plumbing_tests
      ${CMAKE_CURRENT_LIST_DIR}/binary_messenger_test.cpp
      ${CMAKE_CURRENT_LIST_DIR}/fake_engine_messenger.cpp
    )
  endif()
  tw_add_test(channels_plumbing_test SOURCES ${_plumbing_tests} LIBS channels)
  if(WIN32)
    add_custom_command(TARGET channels_plumbing_test POST_BUILD
      COMMAND ${CMAKE_COMMAND} -E copy_if_different
              $<TARGET_FILE:flutter_windows> $<TARGET_FILE_DIR:channels_plumbing_test>)
  endif()
endif()

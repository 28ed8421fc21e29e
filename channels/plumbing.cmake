# Engine plumbing of the channel layer: binary messenger, engine method
# results and method channels. Included at the end of channels/CMakeLists.txt.
#
# The messenger calls the engine's C interface (runner/flutter_windows.h,
# through flutter_engine_interface). On Windows it links the import library
# of the development flutter_windows.dll (the real engine library replaces it
# at run time); on other builds the engine functions are left to the program,
# and the host tests link the development engine's portable core.
target_sources(channels PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/binary_messenger.cpp
  ${CMAKE_CURRENT_LIST_DIR}/engine_method_result.cpp
  ${CMAKE_CURRENT_LIST_DIR}/method_channel.cpp
)
target_link_libraries(channels PRIVATE util PUBLIC flutter_engine_interface)
if(WIN32)
  target_link_libraries(channels PUBLIC flutter_windows)
endif()

if(BUILD_TESTING)
  # Results and channels over fakes of the codec and messenger, and the
  # messenger and channels through the development engine, on both builds.
  tw_add_test(channels_plumbing_test
    SOURCES
      ${CMAKE_CURRENT_LIST_DIR}/engine_method_result_test.cpp
      ${CMAKE_CURRENT_LIST_DIR}/method_channel_test.cpp
      ${CMAKE_CURRENT_LIST_DIR}/engine_plumbing_test.cpp
    LIBS channels flutter_windows)
  tw_copy_dev_engine(channels_plumbing_test)
endif()

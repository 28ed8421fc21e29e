# The folder a Windows user would ship, and the developer tools beside it.
#
#   cmake --install build/windows --prefix DIR --component launcher
#     DIR/tidewarden_launcher.exe
#     DIR/flutter_windows.dll          (the development engine here)
#     DIR/data/flutter_assets/...      (a demo UI script here)
#     DIR/data/icudtl.dat, DIR/data/app.so
#
#   cmake --install build/windows --prefix DIR --component devtools
#     DIR/tidewarden-pack.exe, DIR/discord-peer.exe
#
# With the real engine and application build, flutter_windows.dll and the
# whole data/ folder come from the Flutter build instead.
if(NOT WIN32)
  return()
endif()

install(TARGETS tidewarden_launcher RUNTIME DESTINATION . COMPONENT launcher)
# As a target, so that a stripping install (CPack's) strips the engine
# library too; its import library is for linking only and never installed.
install(TARGETS flutter_windows RUNTIME DESTINATION . COMPONENT launcher)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/tools/flutter_windows/demo/data/
        DESTINATION data COMPONENT launcher)

foreach(tool tidewarden-pack discord-peer)
  if(TARGET ${tool})
    install(TARGETS ${tool} RUNTIME DESTINATION . COMPONENT devtools)
  endif()
endforeach()

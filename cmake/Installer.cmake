# The Windows setup program, made by CPack with NSIS from the `launcher`
# install component only (the development tools never go into it):
#
#   cmake --build --preset windows --target package
#     build/windows/TidewardenLauncher-<MAJOR.MINOR.PATCH>-x64-setup.exe
#
# It installs for the current user without elevation, into
# %LOCALAPPDATA%\Programs\Tidewarden Launcher by default, with a Start-menu
# shortcut and an uninstall entry under HKCU. The script is the project's
# own (cmake/NSIS.template.in, found through CMAKE_MODULE_PATH); CPack fills
# in the staged files, the file lists for the uninstaller and the values
# below. makensis comes from Debian's nsis package (scripts/setup).
if(NOT WIN32)
  return()
endif()

set(CPACK_GENERATOR NSIS64)
set(CPACK_PACKAGE_NAME "Tidewarden Launcher")
# The same publisher as the CompanyName of the launcher's version block.
set(CPACK_PACKAGE_VENDOR "Fernbrook")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.${PROJECT_VERSION_PATCH}")
set(CPACK_PACKAGE_FILE_NAME "TidewardenLauncher-${CPACK_PACKAGE_VERSION}-x64-setup")
set(CPACK_PACKAGE_INSTALL_DIRECTORY "Tidewarden Launcher")
# The name of the uninstall entry's key.
set(CPACK_PACKAGE_INSTALL_REGISTRY_KEY "TidewardenLauncher")
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR})
# One monolithic package of the launcher component: build tree, project,
# component, folder inside the package.
set(CPACK_INSTALL_CMAKE_PROJECTS "${CMAKE_BINARY_DIR};${PROJECT_NAME};launcher;/")
set(CPACK_NSIS_MUI_ICON ${PROJECT_SOURCE_DIR}/runner/resources/app_icon.ico)
set(CPACK_NSIS_MUI_UNIICON ${PROJECT_SOURCE_DIR}/runner/resources/app_icon.ico)
set(CPACK_NSIS_COMPRESSOR "/SOLID lzma")
# The shipped executable and engine library without their debug sections.
set(CPACK_STRIP_FILES ON)
# Signing with TW_SIGNING_CERT and TW_SIGNING_KEY in the environment (see
# docs/releasing.md): the staged PE files after stripping, then, from the
# template, the uninstaller and the setup program. Without them nothing is
# signed.
set(CPACK_TW_SIGN_PE ${PROJECT_SOURCE_DIR}/cmake/sign-pe)
set(CPACK_PRE_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/SignStaged.cmake)

# Read by the project's template only.
set(CPACK_TW_LAUNCHER_EXE "tidewarden_launcher.exe")
set(CPACK_TW_ENGINE_DLL "flutter_windows.dll")
# The setup program's own version block: all four parts, as the launcher's.
set(CPACK_TW_FILE_VERSION "${PROJECT_VERSION}")

include(CPack)

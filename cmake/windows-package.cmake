# The Windows package: `cmake --build --preset windows --target package`
# gives mciplay-<version>-win64.zip, one folder holding the program, the
# driver DLL, the bundled piece, the scripts that register and unregister
# the driver, and a short README; and, where NSIS's makensis is installed,
# the installer mciplay-<version>-win64.exe with the same files, which
# installs into Program Files, registers the driver and lists itself among
# the installed programs, and whose uninstaller takes all that away.

# The piece: composed by the XM writer, built for the build machine when
# this is a cross build.
if(CMAKE_CROSSCOMPILING)
  include(ExternalProject)
  ExternalProject_Add(host_xmgen
    SOURCE_DIR ${PROJECT_SOURCE_DIR}/cmake/host-xmgen
    BINARY_DIR ${CMAKE_BINARY_DIR}/host-xmgen
    CMAKE_ARGS -DCMAKE_BUILD_TYPE=Release
               -DMCIPLAY_BUNDLED_MODULE=${CMAKE_BINARY_DIR}/no-sn.xm
    INSTALL_COMMAND ""
    BUILD_BYPRODUCTS ${CMAKE_BINARY_DIR}/no-sn.xm)
  add_custom_target(bundled_module ALL DEPENDS host_xmgen)
else()
  add_subdirectory(xmgen)
endif()

set(package_dir ${PROJECT_SOURCE_DIR}/packaging/windows)
install(TARGETS mciplay pvl_mci_driver RUNTIME DESTINATION .)
install(FILES ${CMAKE_BINARY_DIR}/no-sn.xm
              ${package_dir}/register.cmd ${package_dir}/unregister.cmd
              ${package_dir}/README.txt
        DESTINATION .)

set(CPACK_GENERATOR ZIP)
find_program(MCIPLAY_MAKENSIS makensis DOC "NSIS's compiler, for the installer")
if(MCIPLAY_MAKENSIS)
  list(APPEND CPACK_GENERATOR NSIS)
else()
  message(STATUS "makensis not found: the package is the ZIP alone")
endif()
set(CPACK_PACKAGE_NAME mciplay)
set(CPACK_PACKAGE_VENDOR mciplay)
set(CPACK_PACKAGE_FILE_NAME mciplay-${PROJECT_VERSION}-win64)
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR})

# The installer: 64-bit, like the driver (a 32-bit installer would write
# the registry's 32-bit view, which a 64-bit winmm does not read), into
# "C:\Program Files\mci play" unless the user picks another folder.
# Silent: setup.exe /S [/D=folder]; the uninstaller takes /S too.
set(CPACK_NSIS_EXECUTABLE ${MCIPLAY_MAKENSIS})
set(CPACK_NSIS_DEFINES
    "Target amd64-unicode\n!include '${package_dir}/driver.nsh'")
set(CPACK_NSIS_INSTALL_ROOT "$PROGRAMFILES64")
set(CPACK_PACKAGE_INSTALL_DIRECTORY "mci play")
set(CPACK_PACKAGE_INSTALL_REGISTRY_KEY "mci play")
set(CPACK_NSIS_PACKAGE_NAME "mci play")
set(CPACK_NSIS_DISPLAY_NAME "mci play ${PROJECT_VERSION}")
set(CPACK_NSIS_UNINSTALL_NAME Uninstall)
set(CPACK_NSIS_INSTALLED_ICON_NAME mciplay.exe)
# The installer's first page shows the package's README.
set(CPACK_RESOURCE_FILE_LICENSE ${package_dir}/README.txt)
# The driver registers itself (its DllRegisterServer) through the system's
# 64-bit regsvr32, and unregisters before its files go.
set(CPACK_NSIS_EXTRA_INSTALL_COMMANDS "!insertmacro RegisterDriver")
set(CPACK_NSIS_EXTRA_UNINSTALL_COMMANDS "!insertmacro UnregisterDriver")
include(CPack)

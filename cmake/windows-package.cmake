# The Windows package: `cmake --build --preset windows --target package`
# gives mciplay-<version>-win64.zip, one folder holding the program, the
# driver DLL, the bundled piece, the scripts that register and unregister
# the driver, and a short README.

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
set(CPACK_PACKAGE_NAME mciplay)
set(CPACK_PACKAGE_FILE_NAME mciplay-${PROJECT_VERSION}-win64)
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR})
include(CPack)

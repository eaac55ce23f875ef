# libopenmpt for the Windows builds, as the target mciplay_libopenmpt.
#
# MinGW-w64 (cross-built from Debian): a static library built once into the
# build tree from Debian's own source package of libopenmpt, by
# build-libopenmpt-mingw.sh; later builds reuse it.
# Visual Studio: vcpkg's port, from the manifest vcpkg.json (msvc preset).
add_library(mciplay_libopenmpt INTERFACE)

if(MINGW)
  set(dir ${CMAKE_BINARY_DIR}/libopenmpt-mingw)
  set(lib ${dir}/prefix/lib/libopenmpt.a)
  find_program(MCIPLAY_MINGW_STRIP NAMES ${CMAKE_SYSTEM_PROCESSOR}-w64-mingw32-strip
               REQUIRED DOC "strip for the MinGW-w64 objects")
  cmake_host_system_information(RESULT cores QUERY NUMBER_OF_LOGICAL_CORES)
  add_custom_command(
    OUTPUT ${lib}
    COMMAND ${CMAKE_CURRENT_LIST_DIR}/build-libopenmpt-mingw.sh ${dir}
            ${CMAKE_SYSTEM_PROCESSOR}-w64-mingw32 ${CMAKE_C_COMPILER}
            ${CMAKE_CXX_COMPILER} ${MCIPLAY_MINGW_STRIP} ${cores}
    DEPENDS ${CMAKE_CURRENT_LIST_DIR}/build-libopenmpt-mingw.sh
    COMMENT "Building libopenmpt for MinGW-w64 from Debian's source package (once)"
    USES_TERMINAL)
  add_custom_target(libopenmpt_mingw DEPENDS ${lib})
  # The headers' folder must exist when the build files are generated.
  file(MAKE_DIRECTORY ${dir}/prefix/include)
  add_library(libopenmpt_mingw_static STATIC IMPORTED GLOBAL)
  set_target_properties(libopenmpt_mingw_static PROPERTIES
                        IMPORTED_LOCATION ${lib}
                        INTERFACE_INCLUDE_DIRECTORIES ${dir}/prefix/include)
  add_dependencies(libopenmpt_mingw_static libopenmpt_mingw)
  target_link_libraries(mciplay_libopenmpt INTERFACE libopenmpt_mingw_static)
else()
  # vcpkg installs a CMake package and a pkg-config file; either will do.
  find_package(libopenmpt CONFIG QUIET)
  if(TARGET libopenmpt::libopenmpt)
    target_link_libraries(mciplay_libopenmpt INTERFACE libopenmpt::libopenmpt)
  else()
    find_package(PkgConfig REQUIRED)
    pkg_check_modules(OPENMPT REQUIRED IMPORTED_TARGET libopenmpt)
    target_link_libraries(mciplay_libopenmpt INTERFACE PkgConfig::OPENMPT)
  endif()
endif()

# The release a publisher installs: the native packaging tool (this build,
# optimised, no sanitizers), and the shipped i686 images with tvpack.exe from
# a cross build of the same sources made inside this one. `cmake --install`
# lays them out; CPack makes two archives:
#   <name>-linux.tar.gz     bin/tvpack and the Windows programs
#   <name>-windows.zip      bin/tvpack.exe and the Windows programs
# Both tools find the launcher image beside themselves. The archives hold the
# same bytes whenever they are made from the same sources in the same folder
# with the same TOVIK_ROOT_CERT (the test root is made anew by every build):
# images without link time stamps, every entry with the time of
# SOURCE_DATE_EPOCH (default: the last commit's, else 2000-01-01).

include(ExternalProject)

set(TOVIK_ROOT_CERT "" CACHE FILEPATH
    "DER file of the maker's root certificate for tovik.exe (empty: the test PKI's root, and the build says so)")
if(TOVIK_ROOT_CERT)
  if(NOT EXISTS "${TOVIK_ROOT_CERT}")
    message(FATAL_ERROR "TOVIK_ROOT_CERT names no file: '${TOVIK_ROOT_CERT}'")
  endif()
  set(_release ON)
  message(STATUS "Release: tovik.exe trusts the root in ${TOVIK_ROOT_CERT}")
else()
  set(_release OFF)
  message(WARNING "Release without TOVIK_ROOT_CERT: tovik.exe trusts the TEST root (its first log line "
                  "and version resource say so). Give -DTOVIK_ROOT_CERT=<root.der> for the shipped build.")
endif()

set(_images "${CMAKE_BINARY_DIR}/windows-images")
ExternalProject_Add(windows_images
  SOURCE_DIR "${CMAKE_SOURCE_DIR}"
  BINARY_DIR "${_images}"
  CMAKE_GENERATOR Ninja
  CMAKE_ARGS
    "-DCMAKE_TOOLCHAIN_FILE=${CMAKE_SOURCE_DIR}/cmake/mingw-i686.cmake"
    -DCMAKE_BUILD_TYPE=Release
    "-DTOVIK_ROOT_CERT=${TOVIK_ROOT_CERT}"
    -DTOVIK_RELEASE=${_release}
    -DTV_WINE_TESTS=OFF
    # No link time in the images: the same sources give the same bytes.
    -DCMAKE_EXE_LINKER_FLAGS=-Wl,--no-insert-timestamp
    "-DTV_DEPS_DIR=${TV_DEPS_DIR}"
  BUILD_COMMAND "${CMAKE_COMMAND}" --build "${_images}" --target launcher tovik tvpack
  INSTALL_COMMAND ""
  BUILD_ALWAYS ON
  USES_TERMINAL_BUILD ON)

set(_launcher "${_images}/launcher/${TV_LAUNCHER_OUTPUT_NAME}.exe")
set(_programs "${_launcher}" "${_images}/bootstrap/tovik.exe")

# Components: the Linux tool, the Windows tool, and what both archives hold.
install(TARGETS tvpack RUNTIME DESTINATION bin COMPONENT linux_tool)
install(PROGRAMS "${_images}/tools/tvpack/tvpack.exe" DESTINATION bin COMPONENT windows_tool)
install(PROGRAMS ${_programs} DESTINATION bin COMPONENT programs)
install(FILES "${CMAKE_BINARY_DIR}/PUBLISHING.md" DESTINATION . COMPONENT programs)

# The CMake package of the release (find_package(TessaroVantel CONFIG)): the
# tool as an imported executable, tvpack_add_package() and the CPack route.
set(TV_LAUNCHER_FILE_NAME "${TV_LAUNCHER_OUTPUT_NAME}.exe")
configure_file("${CMAKE_SOURCE_DIR}/cmake/package/TessaroVantelConfig.cmake.in"
               "${CMAKE_BINARY_DIR}/package/TessaroVantelConfig.cmake" @ONLY)
include(CMakePackageConfigHelpers)
write_basic_package_version_file("${CMAKE_BINARY_DIR}/package/TessaroVantelConfigVersion.cmake"
                                 VERSION "${PROJECT_VERSION}" COMPATIBILITY SameMajorVersion
                                 ARCH_INDEPENDENT)
install(FILES "${CMAKE_BINARY_DIR}/package/TessaroVantelConfig.cmake"
              "${CMAKE_BINARY_DIR}/package/TessaroVantelConfigVersion.cmake"
              "${CMAKE_SOURCE_DIR}/cmake/package/TessaroVantelCPack.cmake"
              "${CMAKE_SOURCE_DIR}/cmake/package/TessaroVantelCPackExternal.cmake"
        DESTINATION lib/cmake/TessaroVantel COMPONENT programs)

# The README's sections for publishers and the maker, as the archives' guide.
file(READ "${CMAKE_SOURCE_DIR}/README.md" _readme)
string(FIND "${_readme}" "## For publishers" _from)
string(FIND "${_readme}" "## tovik.exe: switches" _to)
if(_from LESS 0 OR _to LESS _from)
  message(FATAL_ERROR "README.md: the publishers' section was not found")
endif()
math(EXPR _length "${_to} - ${_from}")
string(SUBSTRING "${_readme}" ${_from} ${_length} _guide)
file(GENERATE OUTPUT "${CMAKE_BINARY_DIR}/PUBLISHING.md" CONTENT "${_guide}")

# Entry times: SOURCE_DATE_EPOCH from the environment at packaging time, else
# the last commit's time, else a fixed date.
if(DEFINED ENV{SOURCE_DATE_EPOCH})
  set(_epoch "$ENV{SOURCE_DATE_EPOCH}")
else()
  execute_process(COMMAND git -C "${CMAKE_SOURCE_DIR}" log -1 --format=%ct
                  OUTPUT_VARIABLE _epoch OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  if(NOT _epoch MATCHES "^[0-9]+$")
    set(_epoch 946684800)
  endif()
endif()
set(TV_SOURCE_DATE_EPOCH "${_epoch}" CACHE STRING "Time of every entry in the release archives (seconds since 1970)")

set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_NAME "tessaro-vantel-installer-toolkit")
set(CPACK_PACKAGE_VENDOR "Tessaro")
set(CPACK_GENERATOR "TGZ;ZIP")
set(CPACK_ARCHIVE_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
set(CPACK_PACKAGE_FILE_NAME "${CPACK_PACKAGE_NAME}-${CPACK_PACKAGE_VERSION}")
set(CPACK_PACKAGE_DIRECTORY "${CMAKE_BINARY_DIR}/packages")
set(CPACK_THREADS 1)
set(CPACK_COMPONENT_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_TV_SOURCE_DATE_EPOCH "${TV_SOURCE_DATE_EPOCH}")
set(CPACK_PROJECT_CONFIG_FILE "${CMAKE_SOURCE_DIR}/cmake/dist_cpack.cmake")
include(CPack)

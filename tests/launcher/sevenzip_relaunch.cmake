# Tests of the 7z payloads, the start-up hardening and the self-relaunch.

# The archives, made at build time by the 7-Zip program, each beside the tree
# it was made from.
find_program(TV_7Z NAMES 7zz 7z REQUIRED)
set(TV_7Z_ARCHIVES "${CMAKE_BINARY_DIR}/sevenzip" CACHE INTERNAL "")
set(_setup)
set(_setup_arg)
if(WIN32)
  set(_setup recorder)  # the stand-in setup program of "with_setup.7z"
  set(_setup_arg "$<TARGET_FILE:recorder>")
endif()
add_custom_command(
  OUTPUT "${TV_7Z_ARCHIVES}/stamp"
  COMMAND python3 "${CMAKE_CURRENT_SOURCE_DIR}/make_7z_archives.py" "${TV_7Z}" "${TV_7Z_ARCHIVES}"
          ${_setup_arg}
  DEPENDS "${CMAKE_CURRENT_SOURCE_DIR}/make_7z_archives.py" ${_setup}
  COMMENT "Making the 7z test archives")
add_custom_target(sevenzip_archives ALL DEPENDS "${TV_7Z_ARCHIVES}/stamp")

if(NOT WIN32)
  add_executable(seven_zip_core_test core/seven_zip_core_test.cc)
  target_include_directories(seven_zip_core_test PRIVATE "${CMAKE_SOURCE_DIR}/tests/support")
  target_compile_definitions(seven_zip_core_test PRIVATE TV_7Z_ARCHIVES="${TV_7Z_ARCHIVES}")
  find_package(ZLIB REQUIRED)
  target_link_libraries(seven_zip_core_test PRIVATE launcher_core ZLIB::ZLIB GTest::gtest_main)
  add_dependencies(seven_zip_core_test sevenzip_archives)
  tv_add_host_test(seven_zip_core_test)
  return()
endif()

add_executable(dll_probe win/dll_probe.cc)
target_link_options(dll_probe PRIVATE -municode)
target_link_libraries(dll_probe PRIVATE launcher_platform)

add_executable(hardening_test win/hardening_test.cc)
target_link_libraries(hardening_test PRIVATE launcher_platform tv_test_support GTest::gtest_main)
tv_add_wine_test(NAME hardening_test COMMAND hardening_test LABELS launcher)

# One program per subject; the archives, the launcher, the probe and the
# planted libraries come from this build.
foreach(test seven_zip_package_test relaunch_test planted_library_test)
  add_executable(${test} win/${test}.cc)
  target_compile_definitions(${test} PRIVATE
    TV_7Z_ARCHIVES="${TV_7Z_ARCHIVES}" TV_PLANTED_DIR="${TV_PLANTED_DIR}"
    TV_DLL_PROBE_EXE="$<TARGET_FILE:dll_probe>")
  target_link_libraries(${test} PRIVATE launcher_core tv_test_support GTest::gtest_main)
  add_dependencies(${test} sevenzip_archives launcher dll_probe planted_libraries)
endforeach()
# The 7z test also calls the launcher's own extraction.
target_link_libraries(seven_zip_package_test PRIVATE launcher_platform)
tv_add_wine_test(NAME seven_zip_package_test COMMAND seven_zip_package_test LABELS launcher TIMEOUT 900)
tv_add_wine_test(NAME relaunch_test COMMAND relaunch_test LABELS launcher TIMEOUT 900)
# Wine runs a planted version.dll only with this override, and takes it from
# the environment of the whole run, not from a child's environment block.
tv_add_wine_test(NAME planted_library_test COMMAND planted_library_test LABELS launcher)
if(TEST planted_library_test)
  set_tests_properties(planted_library_test PROPERTIES
    ENVIRONMENT "WINEDLLOVERRIDES=version=n,b\\;mscoree=\\;mshtml=")
endif()

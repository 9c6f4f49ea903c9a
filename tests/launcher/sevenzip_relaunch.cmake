# Tests of the 7z payloads, the start-up hardening and the self-relaunch.

# The archives, made at build time by the 7-Zip program, each beside the tree
# it was made from.
find_program(TV_7Z NAMES 7zz 7z REQUIRED)
set(TV_7Z_ARCHIVES "${CMAKE_BINARY_DIR}/sevenzip" CACHE INTERNAL "")
add_custom_command(
  OUTPUT "${TV_7Z_ARCHIVES}/stamp"
  COMMAND python3 "${CMAKE_CURRENT_SOURCE_DIR}/make_7z_archives.py" "${TV_7Z}" "${TV_7Z_ARCHIVES}"
  DEPENDS "${CMAKE_CURRENT_SOURCE_DIR}/make_7z_archives.py"
  COMMENT "Making the 7z test archives")
add_custom_target(sevenzip_archives ALL DEPENDS "${TV_7Z_ARCHIVES}/stamp")

if(NOT WIN32)
  add_executable(seven_zip_core_test seven_zip_core_test.cc)
  target_compile_definitions(seven_zip_core_test PRIVATE TV_7Z_ARCHIVES="${TV_7Z_ARCHIVES}")
  target_link_libraries(seven_zip_core_test PRIVATE launcher_core GTest::gtest_main)
  add_dependencies(seven_zip_core_test sevenzip_archives)
  tv_add_host_test(seven_zip_core_test)
  return()
endif()

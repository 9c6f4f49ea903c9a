# Helpers shared by every folder of the build.

# Code that ships in the Windows images: no unwind tables (nothing unwinds
# through it: no exceptions), every function and object in a section of its
# own so that the link keeps only what is used. (Not -fdata-sections: this
# compiler then puts zero-filled data into ".data$" sections, which take room
# in the file.)
set(TV_IMAGE_CODE_OPTIONS -fno-asynchronous-unwind-tables -fno-unwind-tables -ffunction-sections)

# Product code: warnings are errors; no exceptions and no RTTI.
function(tv_product target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Werror
    $<$<COMPILE_LANGUAGE:CXX>:-fno-exceptions -fno-rtti>)
  if(WIN32)
    target_compile_options(${target} PRIVATE ${TV_IMAGE_CODE_OPTIONS})
  endif()
endfunction()

# Third-party code in the products: compiled as it is (no warning flags of
# ours), at the optimisation level TV_THIRD_PARTY_OPT.
set(TV_THIRD_PARTY_OPT "-O2" CACHE STRING "Optimisation of the third-party decoders in the Windows images")
function(tv_third_party target)
  if(WIN32)
    target_compile_options(${target} PRIVATE ${TV_THIRD_PARTY_OPT} ${TV_IMAGE_CODE_OPTIONS})
  endif()
endfunction()

# The generated version header, TV_VERSION_TEXT and TV_VERSION_NUMBERS (for
# the resource scripts), from project(... VERSION ...): target tv_version.
set(TV_GENERATED_DIR "${CMAKE_BINARY_DIR}/generated")
configure_file("${CMAKE_CURRENT_LIST_DIR}/tv_version.h.in" "${TV_GENERATED_DIR}/tv_version.h" @ONLY)
add_library(tv_version INTERFACE)
target_include_directories(tv_version INTERFACE "${TV_GENERATED_DIR}")

# A program's version resource and manifest: its resource script includes
# tv_version.h, and the manifest `template` (beside the script, its version
# written @PROJECT_VERSION@) is generated under the same name into a folder
# that the resource compiler searches before the script's own.
function(tv_version_resources target template)
  get_filename_component(name "${template}" NAME)
  set(folder "${TV_GENERATED_DIR}/manifests")
  configure_file("${template}" "${folder}/${name}" @ONLY)
  target_include_directories(${target} PRIVATE "${folder}")
  target_link_libraries(${target} PRIVATE tv_version)
endfunction()

# A program that ships: stripped, unused sections dropped.
function(tv_shipped_image target)
  target_link_options(${target} PRIVATE -s -Wl,--gc-sections)
endfunction()

# The Windows form (Z:\...) of a path on this machine, as Wine sees it.
function(tv_win_path out path)
  string(REPLACE "/" "\\" win "${path}")
  set(${out} "Z:${win}" PARENT_SCOPE)
endfunction()

# Decides whether this build's programs run under Wine here natively and, if
# so, makes Wine the emulator of every test program. 32-bit Wine runs natively
# only where the kernel executes 32-bit Linux programs; through a user-mode
# emulator (about 50 s a process) it runs only the shipped tier
# (tests/shipped), and the wine-x64 preset runs the Wine suite on the same
# sources built for x86-64.
macro(tv_setup_wine)
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(_tv_loader /usr/lib/wine/wine64)
  else()
    set(_tv_loader /usr/lib/wine/wine)
  endif()
  set(TV_WINE_LOADER "${_tv_loader}" CACHE FILEPATH "Wine loader for this build's programs")
  set(TV_WINE32_MODE_SCRIPT "${CMAKE_SOURCE_DIR}/tests/support/wine32-mode.sh")
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    execute_process(COMMAND "${TV_WINE_LOADER}" --version RESULT_VARIABLE _tv_rc OUTPUT_QUIET ERROR_QUIET)
    if(_tv_rc EQUAL 0)
      set(_tv_mode native)
    else()
      set(_tv_mode none)
    endif()
  else()
    execute_process(COMMAND sh "${TV_WINE32_MODE_SCRIPT}" "${TV_WINE_LOADER}"
                    OUTPUT_VARIABLE _tv_mode OUTPUT_STRIP_TRAILING_WHITESPACE)
  endif()
  if(_tv_mode STREQUAL "native")
    set(_tv_can ON)
  else()
    set(_tv_can OFF)
  endif()
  option(TV_WINE_TESTS "Run this build's Windows programs under Wine in the tests" ${_tv_can})
  message(STATUS "Wine tests in this build: ${TV_WINE_TESTS} (${TV_WINE_LOADER}, ${_tv_mode})")
  set(TV_WINEPREFIX "${CMAKE_BINARY_DIR}/wine")
  # 64-bit Wine's loader is a fixed-address program at 0x7d000000, and the
  # kernel starts its heap at a random place up to 1 GiB above it. About one
  # process start in 900 the heap lands on 0x7ff00000-0x7fff0000, where Wine
  # must map the shared user data page: the new process dies in its first
  # instant ("failed to map the shared user data: c0000018") and its parent's
  # CreateProcess fails with 1359. Without address randomization the heap
  # follows the loader at once. The 32-bit loader's heap moves within 32 MiB
  # and never reaches that range.
  set(TV_WINE_EXEC "")
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    execute_process(COMMAND setarch ${CMAKE_HOST_SYSTEM_PROCESSOR} -R true
                    RESULT_VARIABLE _tv_setarch OUTPUT_QUIET ERROR_QUIET)
    if(_tv_setarch EQUAL 0)
      set(TV_WINE_EXEC "setarch ${CMAKE_HOST_SYSTEM_PROCESSOR} -R ")
    else()
      message(WARNING "setarch -R does not run here: one Wine process start in about 900 may fail")
    endif()
  endif()
  configure_file("${CMAKE_SOURCE_DIR}/tests/support/wine-run.in" "${CMAKE_BINARY_DIR}/wine-run" @ONLY
                 FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
  set(TV_WINE_RUN "${CMAKE_BINARY_DIR}/wine-run")
  set(CMAKE_CROSSCOMPILING_EMULATOR "${TV_WINE_RUN}")
endmacro()

# A test program that runs under Wine in the build's own prefix. Does nothing
# in a build whose programs cannot run here.
#   tv_add_wine_test(NAME name COMMAND target [args...] [LABELS ...] [RESOURCE_LOCK ...] [TIMEOUT s])
function(tv_add_wine_test)
  if(NOT TV_WINE_TESTS)
    return()
  endif()
  cmake_parse_arguments(T "" "NAME;TIMEOUT" "COMMAND;LABELS;RESOURCE_LOCK" ${ARGN})
  add_test(NAME ${T_NAME} COMMAND ${T_COMMAND})
  set_tests_properties(${T_NAME} PROPERTIES FIXTURES_REQUIRED WinePrefix LABELS "wine;${T_LABELS}")
  if(T_RESOURCE_LOCK)
    set_tests_properties(${T_NAME} PROPERTIES RESOURCE_LOCK "${T_RESOURCE_LOCK}")
  endif()
  if(T_TIMEOUT)
    set_tests_properties(${T_NAME} PROPERTIES TIMEOUT ${T_TIMEOUT})
  endif()
endfunction()

# A native unit test of the portable core (host build).
function(tv_add_host_test name)
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES LABELS host)
endfunction()

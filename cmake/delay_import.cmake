# Delay-import libraries for Windows system DLLs: a program linked against one
# of these does not list the DLL in its import table; the DLL is loaded by
# name (LoadLibrary) on the first call into it, that is after the program's
# own start-up code has run. Built at configure time from the toolchain's
# ordinary import library.
#   tv_delay_import_library(<out-var> <dll base name, e.g. shell32>)
# sets <out-var> to the path of the delay-import library.
function(tv_delay_import_library out dll)
  find_library(_tv_implib_${dll} NAMES lib${dll}.a REQUIRED NO_CACHE)
  set(implib "${_tv_implib_${dll}}")
  set(dir "${CMAKE_BINARY_DIR}/delayimp")
  set(def "${dir}/${dll}.def")
  set(lib "${dir}/lib${dll}_delay.a")
  file(MAKE_DIRECTORY "${dir}")
  if(NOT EXISTS "${lib}" OR "${implib}" IS_NEWER_THAN "${lib}")
    execute_process(COMMAND "${CMAKE_NM}" "${implib}" OUTPUT_VARIABLE symbols
                    RESULT_VARIABLE rc ERROR_QUIET)
    if(NOT rc EQUAL 0)
      message(FATAL_ERROR "cannot list ${implib}")
    endif()
    # "__imp_" + the symbol; on i686 the symbol has one more leading "_".
    if(CMAKE_SIZEOF_VOID_P EQUAL 4)
      set(prefix "__imp__")
    else()
      set(prefix "__imp_")
    endif()
    string(REGEX MATCHALL " I ${prefix}[A-Za-z0-9_@?$]+" imports "${symbols}")
    list(REMOVE_DUPLICATES imports)
    set(text "LIBRARY ${dll}.dll\nEXPORTS\n")
    foreach(line IN LISTS imports)
      string(REPLACE " I ${prefix}" "" name "${line}")
      string(APPEND text "  ${name}\n")
    endforeach()
    file(WRITE "${def}" "${text}")
    execute_process(COMMAND "${CMAKE_DLLTOOL}" --kill-at --input-def "${def}"
                            --dllname "${dll}.dll" --output-delaylib "${lib}"
                    RESULT_VARIABLE rc)
    if(NOT rc EQUAL 0)
      message(FATAL_ERROR "dlltool failed for ${dll}")
    endif()
  endif()
  set(${out} "${lib}" PARENT_SCOPE)
endfunction()

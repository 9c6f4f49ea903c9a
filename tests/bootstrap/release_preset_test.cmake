# Configures the release preset into a scratch folder without a root
# certificate and with one that does not exist; both must be refused with a
# message that names TOVIK_ROOT_CERT.
foreach(root "" "${SCRATCH}/missing.der")
  file(REMOVE_RECURSE "${SCRATCH}")
  execute_process(
    COMMAND "${CMAKE_COMMAND}" --preset release -B "${SCRATCH}" "-DTOVIK_ROOT_CERT=${root}"
    WORKING_DIRECTORY "${SOURCE_DIR}"
    RESULT_VARIABLE result
    OUTPUT_VARIABLE out
    ERROR_VARIABLE err)
  if(result EQUAL 0)
    message(FATAL_ERROR "the release preset configured with TOVIK_ROOT_CERT='${root}'")
  endif()
  if(NOT err MATCHES "TOVIK_ROOT_CERT")
    message(FATAL_ERROR "refused for another reason with TOVIK_ROOT_CERT='${root}':\n${err}")
  endif()
endforeach()
file(REMOVE_RECURSE "${SCRATCH}")

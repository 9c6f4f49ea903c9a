# Per archive kind (read by CPack for each generator): which components it
# holds and its name. Entry times come from SOURCE_DATE_EPOCH: the one in the
# environment, else the one fixed when the build was configured.
if(NOT DEFINED ENV{SOURCE_DATE_EPOCH})
  set(ENV{SOURCE_DATE_EPOCH} "${CPACK_TV_SOURCE_DATE_EPOCH}")
endif()
if(CPACK_GENERATOR STREQUAL "TGZ")
  set(CPACK_COMPONENTS_ALL linux_tool programs)
  set(CPACK_ARCHIVE_FILE_NAME "${CPACK_PACKAGE_FILE_NAME}-linux")
elseif(CPACK_GENERATOR STREQUAL "ZIP")
  set(CPACK_COMPONENTS_ALL windows_tool programs)
  set(CPACK_ARCHIVE_FILE_NAME "${CPACK_PACKAGE_FILE_NAME}-windows")
endif()

# The CPack route: after find_package(TessaroVantel) and before include(CPack),
#
#   set(CPACK_TVPACK_SETUP "bin/setup.exe")   # the setup program, relative to the install tree
#   include(TessaroVantelCPack)
#   include(CPack)
#
# and `cpack -G External` packs the project's install tree with tvpack into
# ${CPACK_PACKAGE_FILE_NAME}.exe in the package directory (the build folder by
# default), listed as a built package so that CPACK_PACKAGE_CHECKSUM covers
# it. Optional: CPACK_TVPACK_FORMAT (zip or 7z), CPACK_TVPACK_LEVEL,
# CPACK_TVPACK_SIGN_PKCS12 with CPACK_TVPACK_PASSWORD_FILE, and
# CPACK_TVPACK_TIMESTAMP.
if(NOT TARGET TessaroVantel::tvpack)
  message(FATAL_ERROR "include(TessaroVantelCPack) needs find_package(TessaroVantel) first")
endif()
set(CPACK_TVPACK_EXECUTABLE "${TessaroVantel_TVPACK}")
set(CPACK_EXTERNAL_ENABLE_STAGING ON)
set(CPACK_EXTERNAL_PACKAGE_SCRIPT "${CMAKE_CURRENT_LIST_DIR}/TessaroVantelCPackExternal.cmake")

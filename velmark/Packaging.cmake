# Installing velmark: the command in bin/, its data (VELMARK.dll and the
# export table it was built with) in share/velmark/, where the command looks
# for them relative to itself. The build tree has the same shape, so the
# command finds the image it was built with there too.
set(VELMARK_DATA_DIR ${CMAKE_BINARY_DIR}/share/velmark)
add_custom_command(
    OUTPUT ${VELMARK_DATA_DIR}/VELMARK.dll ${VELMARK_DATA_DIR}/coredll.exports
    COMMAND ${CMAKE_COMMAND} -E copy ${VELMARK_DLL} ${VELMARK_TABLE} ${VELMARK_DATA_DIR}
    DEPENDS velmark_dll ${VELMARK_DLL} ${VELMARK_TABLE}
    COMMENT "Placing VELMARK.dll beside the velmark command")
add_custom_target(velmark_data ALL DEPENDS ${VELMARK_DATA_DIR}/VELMARK.dll ${VELMARK_DATA_DIR}/coredll.exports)

include(GNUInstallDirs)
install(TARGETS velmark RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${VELMARK_DLL} ${VELMARK_TABLE} DESTINATION ${CMAKE_INSTALL_DATADIR}/velmark)
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})

# cpack -G DEB: a Debian package whose dependencies are read off the
# command's shared libraries (dpkg-shlibdeps).
set(CPACK_PACKAGE_NAME velmark)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "VELMARK developers <velmark@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "prepare Windows CE applications and their files for VELMARK.dll")
set(CPACK_PACKAGE_DESCRIPTION "velmark checks and retargets Windows CE ARM applications for VELMARK.dll, \
previews their banner and builds their language modules; VELMARK.dll itself is installed in /usr/share/velmark.")
set(CPACK_GENERATOR DEB)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION devel)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
include(CPack)

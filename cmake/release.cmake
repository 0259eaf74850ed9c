# Installation and the release archives.
#
# A POSIX build installs bin/vorn, the manual page and, as documentation, the
# README and the licence under the prefix, and packs the same tree, with no
# folder around it, as vorn-<version>-<system>.tar.gz, to be unpacked into a
# prefix such as /usr/local. The Windows build packs vorn.exe beside the README
# and the licence as CR LF text files in vorn-<version>-win32.zip. Installed
# and packed programs are stripped when asked (cmake --install --strip; cpack
# always strips).
include(GNUInstallDirs)

if(WIN32)
  # Text files a Windows user opens by double-clicking: .txt names and CR LF
  # line ends. Copied byte for byte otherwise, whatever they contain.
  foreach(document README.md LICENSE)
    get_filename_component(document_name ${document} NAME_WE)
    file(READ ${PROJECT_SOURCE_DIR}/${document} document_text)
    string(REPLACE "\n" "\r\n" document_text "${document_text}")
    file(WRITE ${PROJECT_BINARY_DIR}/${document_name}.txt "${document_text}")
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
      ${PROJECT_SOURCE_DIR}/${document})
  endforeach()
  install(TARGETS vorn RUNTIME DESTINATION .)
  install(FILES ${PROJECT_BINARY_DIR}/README.txt ${PROJECT_BINARY_DIR}/LICENSE.txt
    DESTINATION .)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_SYSTEM_NAME win32)
else()
  # The page names the project version, as the banner does.
  configure_file(${PROJECT_SOURCE_DIR}/doc/vorn.1.in ${PROJECT_BINARY_DIR}/vorn.1 @ONLY)
  install(TARGETS vorn RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${PROJECT_BINARY_DIR}/vorn.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/LICENSE
    DESTINATION ${CMAKE_INSTALL_DOCDIR})
  set(CPACK_GENERATOR TGZ)
  set(CPACK_SYSTEM_NAME ${CMAKE_SYSTEM_NAME})
endif()

set(CPACK_PACKAGE_NAME ${PROJECT_NAME})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "the vorn developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "Writes a range of a file's lines to standard output, streaming")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_RESOURCE_FILE_README ${PROJECT_SOURCE_DIR}/README.md)
set(CPACK_PACKAGE_FILE_NAME ${PROJECT_NAME}-${PROJECT_VERSION}-${CPACK_SYSTEM_NAME})
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
set(CPACK_STRIP_FILES ON)
# Releases are binary archives; the source is the repository itself.
set(CPACK_SOURCE_GENERATOR "")
include(CPack)

# The Debian package: `cpack -G DEB` in a build tree (scripts/package builds
# a release tree for it). It holds whatever `cmake --install` installs.

set(PELORIX_DOC_DIR ${CMAKE_INSTALL_DATAROOTDIR}/doc/pelorix)
install(FILES ${PROJECT_SOURCE_DIR}/cmake/debian-copyright
        DESTINATION ${PELORIX_DOC_DIR} RENAME copyright)
install(FILES ${PROJECT_SOURCE_DIR}/data/NOTICE DESTINATION ${PELORIX_DOC_DIR})

set(PELORIX_MAINTAINER "Pelorix developers <maintainers@pelorix.invalid>"
    CACHE STRING "Maintainer named in the Debian package")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME pelorix)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "spam pre-checker for POP3 mailboxes")
set(CPACK_PACKAGE_DESCRIPTION
    "Pelorix logs into POP3 accounts, reads the headers of the waiting mail,
judges each message against the user's filter lists, shows where each
sender's mail entered the network and deletes the spam on the server before
the mail program downloads it. It has a Qt window and a command line for
scripts and cron.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${PELORIX_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SECTION mail)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
# Libraries come from dpkg-shlibdeps; the Chinese texts need a CJK font,
# and the window the platform plugins and Qt's own Chinese texts, which no
# library links to.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-noto-cjk | fonts-wqy-microhei | fonts-wqy-zenhei")
if(PELORIX_GUI)
  string(APPEND CPACK_DEBIAN_PACKAGE_DEPENDS ", qt6-qpa-plugins, qt6-translations-l10n")
endif()
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "ca-certificates")

include(CPack)

# The .deb that scripts/package builds: what the install rules put in, nothing else
# (the tests and benchmarks have no install rules). Dependencies come from the libraries
# the programs link, through dpkg-shlibdeps.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME klarifeld)
set(CPACK_PACKAGE_VENDOR "The Klarifeld developers")
set(CPACK_PACKAGE_CONTACT "The Klarifeld developers <developers@klarifeld.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "clean the text of a MySQL or MariaDB column")
set(CPACK_PACKAGE_DESCRIPTION
    "Klarifeld cleans the text held in one column of one table of a MySQL or\n"
    "MariaDB database: it removes or replaces spaces, tabs, line breaks, invisible\n"
    "and other characters, or what a regular expression matches, with 34\n"
    "operations. Every change can be previewed before it is written, a run can be\n"
    "watched and stopped, and any run can be undone from a journal kept on your\n"
    "machine. klarifeld-clean runs the same operations from a terminal or a script.")
string(JOIN "" CPACK_PACKAGE_DESCRIPTION ${CPACK_PACKAGE_DESCRIPTION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION database)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE ${PROJECT_HOMEPAGE_URL})
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The windows need Qt's display plugins, which the Qt libraries only recommend.
set(CPACK_DEBIAN_PACKAGE_DEPENDS qt6-qpa-plugins)
include(CPack)

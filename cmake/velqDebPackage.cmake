# The Debian package: in a build folder, `cpack -G DEB` writes velq_VERSION_ARCH.deb,
# which installs under /usr everything `cmake --install` installs: the tool, the
# libraries, the headers, the CMake package, velq.pc, the manual page, the license and
# the editor files. Its dependencies are computed from the binaries by dpkg-shlibdeps.
set(CPACK_PACKAGE_NAME velq)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "velq developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "embeddable scripting engine and its command-line tool")
# The long description: its lines as they appear in the package's control file.
string(CONCAT CPACK_PACKAGE_DESCRIPTION
  "velq is a small, dynamically typed scripting language and the engine that\n"
  "runs it inside a host program. This package holds the velq tool, which runs\n"
  "scripts, the shared libraries libvelq and libkorvat with their headers, CMake\n"
  "package and pkg-config file, the manual page, and syntax files for editors\n"
  "(a TextMate grammar and vim files).")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_GENERATOR DEB)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "velq developers")
set(CPACK_DEBIAN_PACKAGE_SECTION interpreters)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The tool loads readline itself when its REPL starts (src/cli/CMakeLists.txt).
if(VELQ_READLINE_PACKAGE)
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS ${VELQ_READLINE_PACKAGE})
endif()
# The package's own libraries, which the tool loads, are found here rather than taken
# for dependencies on other packages.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_BINARY_DIR}/lib)
# A shlibs file, so that packages built against libvelq depend on this one, and the
# ldconfig trigger for the shared libraries.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)

include(CPack)

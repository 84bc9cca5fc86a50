# The installed package: a CMake package (find_package(velq) gives the target
# velq::velq, which brings in velq::korvat), a pkg-config file velq.pc, the license,
# the tool's manual page and the editor files. The headers, the two libraries and the
# tool install themselves from their folders.
include(CMakePackageConfigHelpers)

# velq's license, as an SPDX identifier; its text is LICENSE.
set(VELQ_LICENSE MIT)
# Which kind of libraries this build makes and installs: shared or static.
if(BUILD_SHARED_LIBS)
  set(VELQ_LIBRARY_KIND shared)
  set(VELQ_STATIC_LIBRARIES OFF)
else()
  set(VELQ_LIBRARY_KIND static)
  set(VELQ_STATIC_LIBRARIES ON)
endif()

set(VELQ_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/velq)

install(EXPORT velqTargets NAMESPACE velq:: DESTINATION ${VELQ_CMAKE_DIR}
  FILE velqTargets.cmake)

configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/velqConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/velqConfig.cmake
  INSTALL_DESTINATION ${VELQ_CMAKE_DIR})
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/velqConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/velqConfig.cmake
  ${CMAKE_CURRENT_BINARY_DIR}/velqConfigVersion.cmake DESTINATION ${VELQ_CMAKE_DIR})

# velq.pc finds the prefix from its own place (${pcfiledir}), so that an install
# with `cmake --install --prefix DIR` and a moved tree both work. Libs.private names
# what a static libvelq needs besides libkorvat, for `pkg-config --static`: the C++
# runtime, the maths library and the thread library.
set(VELQ_PC_DIR ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
file(RELATIVE_PATH VELQ_PC_TO_PREFIX /velq-prefix/${VELQ_PC_DIR} /velq-prefix)
string(REGEX REPLACE "/$" "" VELQ_PC_TO_PREFIX "${VELQ_PC_TO_PREFIX}")
set(VELQ_PC_LIBS_PRIVATE "-lstdc++ -lm -pthread")
configure_file(${CMAKE_CURRENT_LIST_DIR}/velq.pc.in ${CMAKE_CURRENT_BINARY_DIR}/velq.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/velq.pc DESTINATION ${VELQ_PC_DIR})

# The license goes with every install as share/doc/velq/copyright, in the machine-readable
# form that Debian packages carry: LICENSE's text, each line indented by one blank and an
# empty line written as " .".
file(READ ${PROJECT_SOURCE_DIR}/LICENSE VELQ_LICENSE_TEXT)
string(REGEX MATCH "Copyright \\(c\\) ([^\n]*)" VELQ_COPYRIGHT_LINE "${VELQ_LICENSE_TEXT}")
set(VELQ_COPYRIGHT_HOLDERS "${CMAKE_MATCH_1}")
string(REGEX REPLACE "\n+$" "" VELQ_LICENSE_TEXT "${VELQ_LICENSE_TEXT}")
string(REPLACE "\n\n" "\n.\n" VELQ_LICENSE_TEXT "${VELQ_LICENSE_TEXT}")
string(REPLACE "\n" "\n " VELQ_LICENSE_TEXT "${VELQ_LICENSE_TEXT}")
configure_file(${CMAKE_CURRENT_LIST_DIR}/copyright.in ${CMAKE_CURRENT_BINARY_DIR}/copyright @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})

# The user's guides beside it: the language and the tool.
install(FILES ${PROJECT_SOURCE_DIR}/docs/language.md ${PROJECT_SOURCE_DIR}/docs/cli.md
  DESTINATION ${CMAKE_INSTALL_DOCDIR})

# The manual page carries the version of velq.h, and is installed compressed, as man
# finds it and as Debian's policy asks (gzip -9n: the same bytes from every build).
configure_file(${PROJECT_SOURCE_DIR}/docs/velq.1.in ${CMAKE_CURRENT_BINARY_DIR}/velq.1 @ONLY)
find_program(VELQ_GZIP gzip REQUIRED)
add_custom_command(OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/velq.1.gz
  COMMAND ${VELQ_GZIP} -9nc ${CMAKE_CURRENT_BINARY_DIR}/velq.1 > ${CMAKE_CURRENT_BINARY_DIR}/velq.1.gz
  DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/velq.1 VERBATIM)
add_custom_target(velq_man ALL DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/velq.1.gz)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/velq.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# Editor files: the TextMate grammar with its extension manifest, to be copied or linked
# into an editor's extension folder, and the vim files in the folder that Debian's vim
# reads for every user (share/vim/vimfiles under the /usr prefix).
install(DIRECTORY ${PROJECT_SOURCE_DIR}/editors/textmate/
  DESTINATION ${CMAKE_INSTALL_DATADIR}/velq/editors/textmate)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/editors/vim/
  DESTINATION ${CMAKE_INSTALL_DATADIR}/vim/vimfiles)

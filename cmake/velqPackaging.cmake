# The installed package: a CMake package (find_package(velq) gives the target
# velq::velq, which brings in velq::korvat) and a pkg-config file velq.pc. The
# headers, the two libraries and the tool install themselves from their folders.
include(CMakePackageConfigHelpers)

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
# with `cmake --install --prefix DIR` and a moved tree both work.
set(VELQ_PC_DIR ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
file(RELATIVE_PATH VELQ_PC_TO_PREFIX /velq-prefix/${VELQ_PC_DIR} /velq-prefix)
string(REGEX REPLACE "/$" "" VELQ_PC_TO_PREFIX "${VELQ_PC_TO_PREFIX}")
configure_file(${CMAKE_CURRENT_LIST_DIR}/velq.pc.in ${CMAKE_CURRENT_BINARY_DIR}/velq.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/velq.pc DESTINATION ${VELQ_PC_DIR})

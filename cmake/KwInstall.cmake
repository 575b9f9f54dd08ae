# Install rules: the header, the library, a CMake package (kwutil::kwutil),
# a pkg-config file and the documents.
include(CMakePackageConfigHelpers)

install(TARGETS kwutil EXPORT kwutilTargets
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/include/ DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}
  FILES_MATCHING PATTERN "*.h" PATTERN "*.hpp")

set(KW_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/kwutil)
install(EXPORT kwutilTargets NAMESPACE kwutil:: DESTINATION ${KW_CMAKE_DIR})
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/kwutilConfig.cmake.in
  ${PROJECT_BINARY_DIR}/kwutilConfig.cmake INSTALL_DESTINATION ${KW_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/kwutilConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/kwutilConfig.cmake ${PROJECT_BINARY_DIR}/kwutilConfigVersion.cmake
  DESTINATION ${KW_CMAKE_DIR})

configure_file(${PROJECT_SOURCE_DIR}/cmake/kwutil.pc.in ${PROJECT_BINARY_DIR}/kwutil.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/kwutil.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

install(DIRECTORY ${PROJECT_SOURCE_DIR}/docs/ DESTINATION ${CMAKE_INSTALL_DOCDIR})

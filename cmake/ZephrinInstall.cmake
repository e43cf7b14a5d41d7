# What `cmake --install` puts where, and the Debian packages cpack builds from it.
#
# Components: driver (the two libraries and the resolution database), tools (zephrin-host,
# zephrin-camsim and their manual pages) and sdk (the host-boundary header, the link names, the CMake
# package and the pkg-config file).

if(NOT TARGET Zephrin)
  return()
endif()

# ---- driver -------------------------------------------------------------------------------------
install(TARGETS Zephrin Wendrick EXPORT ZephrinTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT driver NAMELINK_COMPONENT sdk)
install(FILES ${PROJECT_SOURCE_DIR}/data/Zephrin.dat DESTINATION ${ZEPHRIN_INSTALL_DATADIR} COMPONENT driver)

# ---- tools --------------------------------------------------------------------------------------
if(TARGET zephrin-host)
  install(TARGETS zephrin-host RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tools)
endif()
install(DIRECTORY ${PROJECT_SOURCE_DIR}/tools/camsim/ DESTINATION ${ZEPHRIN_INSTALL_DATADIR}/camsim COMPONENT tools
  FILES_MATCHING PATTERN "*.py" PATTERN "*.json" PATTERN "clips/*" PATTERN "test_*.py" EXCLUDE
  PATTERN "__pycache__" EXCLUDE)
file(RELATIVE_PATH ZEPHRIN_BIN_TO_CAMSIM ${CMAKE_INSTALL_FULL_BINDIR} ${ZEPHRIN_INSTALL_FULL_DATADIR}/camsim)
configure_file(${PROJECT_SOURCE_DIR}/packaging/zephrin-camsim.in ${PROJECT_BINARY_DIR}/install/zephrin-camsim @ONLY)
install(PROGRAMS ${PROJECT_BINARY_DIR}/install/zephrin-camsim DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tools)

# ---- sdk ----------------------------------------------------------------------------------------
# The host boundary is one header; it is installed from where the driver keeps it.
install(FILES ${PROJECT_SOURCE_DIR}/src/driver/HostInterfaces.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/zephrin
  COMPONENT sdk)
add_library(zephrin_sdk_headers INTERFACE)
set_target_properties(zephrin_sdk_headers PROPERTIES EXPORT_NAME Headers)
target_include_directories(zephrin_sdk_headers INTERFACE $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
install(TARGETS zephrin_sdk_headers EXPORT ZephrinTargets)
foreach(library Zephrin Wendrick)
  target_link_libraries(${library} INTERFACE $<INSTALL_INTERFACE:Zephrin::Headers>)
endforeach()

set(ZEPHRIN_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/Zephrin)
install(EXPORT ZephrinTargets NAMESPACE Zephrin:: DESTINATION ${ZEPHRIN_CMAKE_DIR} COMPONENT sdk)
include(CMakePackageConfigHelpers)
configure_package_config_file(${PROJECT_SOURCE_DIR}/packaging/ZephrinConfig.cmake.in
  ${PROJECT_BINARY_DIR}/install/ZephrinConfig.cmake INSTALL_DESTINATION ${ZEPHRIN_CMAKE_DIR}
  PATH_VARS ZEPHRIN_INSTALL_DATADIR)
write_basic_package_version_file(${PROJECT_BINARY_DIR}/install/ZephrinConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/install/ZephrinConfig.cmake ${PROJECT_BINARY_DIR}/install/ZephrinConfigVersion.cmake
  DESTINATION ${ZEPHRIN_CMAKE_DIR} COMPONENT sdk)

# pkg-config: the prefix is found from the file's own place, so a moved installation still works.
file(RELATIVE_PATH ZEPHRIN_PC_TO_PREFIX ${CMAKE_INSTALL_FULL_LIBDIR}/pkgconfig ${CMAKE_INSTALL_PREFIX})
string(REGEX REPLACE "/$" "" ZEPHRIN_PC_TO_PREFIX "${ZEPHRIN_PC_TO_PREFIX}")
configure_file(${PROJECT_SOURCE_DIR}/packaging/zephrin.pc.in ${PROJECT_BINARY_DIR}/install/zephrin.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/install/zephrin.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT sdk)

# ---- Debian packages ----------------------------------------------------------------------------
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME zephrin)
set(CPACK_PACKAGE_VENDOR "Zephrin")
set(CPACK_PACKAGE_CONTACT "Zephrin developers <zephrin@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "capture driver for ELMO-family IP cameras")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/packages)
set(CPACK_COMPONENTS_ALL driver tools sdk)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Debug information stays in the build tree; the packages carry stripped binaries.
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)

set(CPACK_DEBIAN_DRIVER_PACKAGE_NAME zephrin)
set(CPACK_COMPONENT_DRIVER_DESCRIPTION
  "Zephrin capture driver for ELMO-family IP cameras\n libZephrin (the driver a recording host loads), libWendrick (the legacy\n capability-query library) and the resolution database Zephrin.dat.")

set(CPACK_DEBIAN_TOOLS_PACKAGE_NAME zephrin-tools)
set(CPACK_COMPONENT_TOOLS_DEPENDS driver)
set(CPACK_DEBIAN_TOOLS_PACKAGE_DEPENDS
  "python3, python3-gi, gir1.2-gstreamer-1.0, gir1.2-gst-rtsp-server-1.0, gstreamer1.0-plugins-base, gstreamer1.0-plugins-good, gstreamer1.0-plugins-bad, gstreamer1.0-plugins-ugly, gstreamer1.0-libav")
set(CPACK_COMPONENT_TOOLS_DESCRIPTION
  "Zephrin command-line host and camera simulator\n zephrin-host drives the installed driver as a recording host does (probe,\n record to MP4/MKV, PTZ, digital I/O); zephrin-camsim simulates a camera's CGI\n web interface and RTSP/RTP streams.")

set(CPACK_DEBIAN_SDK_PACKAGE_NAME zephrin-dev)
set(CPACK_COMPONENT_SDK_DEPENDS driver)
set(CPACK_DEBIAN_SDK_PACKAGE_SECTION libdevel)
set(CPACK_COMPONENT_SDK_DESCRIPTION
  "Zephrin host SDK\n The host-boundary header, the CMake package (find_package(Zephrin)) and the\n pkg-config file for building a recording host against the Zephrin driver.")
include(CPack)

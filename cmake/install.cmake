# Installation of the library and its development files, in two components:
#   library      libVrenLabelAPI.so.1 (what programs load)
#   development  the header, the libVrenLabelAPI.so link, VrenLabelAPI.pc and
#                the CMake package (find_package(VrenLabelAPI))
# The tools install into the component "tools", the printer application into
# "printer-app".
include(CMakePackageConfigHelpers)

set(VREN_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/VrenLabelAPI)

install(TARGETS VrenLabelAPI EXPORT VrenLabelAPITargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT library NAMELINK_COMPONENT development
  PUBLIC_HEADER DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT development)

install(EXPORT VrenLabelAPITargets
  NAMESPACE VrenLabelAPI::
  DESTINATION ${VREN_CMAKE_DIR}
  COMPONENT development)
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/VrenLabelAPIConfig.cmake.in
  ${PROJECT_BINARY_DIR}/VrenLabelAPIConfig.cmake
  INSTALL_DESTINATION ${VREN_CMAKE_DIR})
# Same major version: the library keeps its interface within a SONAME.
write_basic_package_version_file(${PROJECT_BINARY_DIR}/VrenLabelAPIConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/VrenLabelAPIConfig.cmake ${PROJECT_BINARY_DIR}/VrenLabelAPIConfigVersion.cmake
  DESTINATION ${VREN_CMAKE_DIR}
  COMPONENT development)

# The pkg-config file locates the installation relative to itself, so the
# tree can be installed under any prefix.
file(RELATIVE_PATH VREN_PC_TO_PREFIX /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix)
configure_file(${PROJECT_SOURCE_DIR}/cmake/VrenLabelAPI.pc.in ${PROJECT_BINARY_DIR}/VrenLabelAPI.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/VrenLabelAPI.pc
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig
  COMPONENT development)

# Read/write access to the printers' USB nodes for group lp and for the
# person at the seat.
# udev reads rules from /lib/udev/rules.d (or /usr/lib/udev/rules.d), never
# from a multiarch library directory: the place is set apart from the library.
set(VREN_UDEV_RULES_DIR lib/udev/rules.d CACHE STRING "Where the udev rule goes (relative: under the prefix)")
install(FILES ${PROJECT_SOURCE_DIR}/data/60-vren-label-printer.rules
  DESTINATION ${VREN_UDEV_RULES_DIR}
  COMPONENT library)

# BlueZ's libbluetooth (Debian libbluetooth-dev) as the target vren_bluez,
# found through pkg-config when it is there and by its header and library
# otherwise, so that the library builds with nothing but a compiler and
# libbluetooth-dev.
find_package(PkgConfig QUIET)
if(PKG_CONFIG_FOUND)
  pkg_check_modules(BLUEZ QUIET IMPORTED_TARGET bluez)
endif()
add_library(vren_bluez INTERFACE)
if(TARGET PkgConfig::BLUEZ)
  target_link_libraries(vren_bluez INTERFACE PkgConfig::BLUEZ)
else()
  find_path(BLUEZ_INCLUDE_DIR bluetooth/bluetooth.h)
  find_library(BLUEZ_LIBRARY bluetooth)
  if(NOT BLUEZ_INCLUDE_DIR OR NOT BLUEZ_LIBRARY)
    message(FATAL_ERROR "BlueZ's libbluetooth was not found: install libbluetooth-dev")
  endif()
  target_include_directories(vren_bluez INTERFACE ${BLUEZ_INCLUDE_DIR})
  target_link_libraries(vren_bluez INTERFACE ${BLUEZ_LIBRARY})
endif()

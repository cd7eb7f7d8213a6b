# Debian packages, one per install component (cmake/install.cmake):
#   libkestrellink1            the library
#   kestrellink-virtual-cable  the virtual cable, in its private folder
#   libkestrellink-dev         headers, CMake package, pkg-config files, docs and examples
#   kestrel                    the tool, with the scenarios and its docs
#   kestrellink-d2xx-libftdi   the D2XX library over libftdi1 (where libftdi1 was found), which
#                              the library recommends, so that the packages reach a real cable
#                              with free software only
# The tool and the development package depend on the library and the virtual cable, so that
# `kestrel demo` and a host's own tests work as soon as they are installed.
# Build them with `cpack --config build/CPackConfig.cmake -G DEB` (prefix /usr).
set(CPACK_PACKAGE_NAME kestrellink)
set(CPACK_PACKAGE_VENDOR "KestrelLink")
set(CPACK_PACKAGE_CONTACT "KestrelLink maintainers <kestrellink@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Host library for the ZV7300LNK programming cable")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)

set(CPACK_COMPONENTS_ALL library virtual_cable development)
set(CPACK_DEBIAN_LIBRARY_PACKAGE_NAME libkestrellink1)
set(CPACK_DEBIAN_LIBRARY_PACKAGE_SECTION libs)
set(CPACK_COMPONENT_LIBRARY_DESCRIPTION
    "Host library for the ZV7300LNK programming cable\n The library loads a D2XX library at run time: the vendor's, or the one over\n libftdi1 that this package recommends. Carries the udev rule that gives the\n logged-in user and the plugdev group access to the cable.")
if(TARGET ftd2xx_libftdi)
    list(APPEND CPACK_COMPONENTS_ALL d2xx_libftdi)
    set(CPACK_DEBIAN_D2XX_LIBFTDI_PACKAGE_NAME kestrellink-d2xx-libftdi)
    set(CPACK_DEBIAN_D2XX_LIBFTDI_PACKAGE_SECTION libs)
    set(CPACK_COMPONENT_D2XX_LIBFTDI_DESCRIPTION
        "D2XX library over libftdi1 for the ZV7300LNK cable\n A libftd2xx.so of KestrelLink's own, built on libftdi1 and libusb, so that the\n library reaches a real cable without the vendor's library. Kept in a private\n folder (<libdir>/kestrellink/d2xx-libftdi): kestrel --d2xx libftdi and the\n Python package's KESTRELLINK_D2XX=libftdi choose it, and a vendor library\n the user installed is never shadowed.")
    set(CPACK_DEBIAN_LIBRARY_PACKAGE_RECOMMENDS kestrellink-d2xx-libftdi)
endif()
set(CPACK_DEBIAN_VIRTUAL_CABLE_PACKAGE_NAME kestrellink-virtual-cable)
set(CPACK_DEBIAN_VIRTUAL_CABLE_PACKAGE_SECTION devel)
set(CPACK_COMPONENT_VIRTUAL_CABLE_DESCRIPTION
    "Simulated ZV7300LNK cable for testing KestrelLink hosts\n A D2XX library of its own that simulates the cable, kept in a private folder\n (/usr/lib/kestrellink/virtual-cable) so that it never shadows the vendor's library.")
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME libkestrellink-dev)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
set(CPACK_COMPONENT_DEVELOPMENT_DESCRIPTION
    "Development files for KestrelLink\n The header, the CMake package, pkg-config files, the virtual cable's control API,\n documentation and examples.")
set(CPACK_COMPONENT_DEVELOPMENT_DEPENDS library virtual_cable)
if(TARGET kestrel)
    list(APPEND CPACK_COMPONENTS_ALL tool)
    set(CPACK_DEBIAN_TOOL_PACKAGE_NAME kestrel)
    set(CPACK_DEBIAN_TOOL_PACKAGE_SECTION electronics)
    set(CPACK_COMPONENT_TOOL_DESCRIPTION
        "Command-line tool for the ZV7300LNK programming cable\n JTAG scans, SPI flash, UART, GPIO and EEPROM through KestrelLink; `kestrel demo`\n runs on the virtual cable.")
    set(CPACK_COMPONENT_TOOL_DEPENDS library virtual_cable)
endif()

# Dependencies on system libraries come from dpkg-shlibdeps where it is installed (dpkg-dev and
# file); the build's own library folder lets it read libkestrellink.so.1, which the tool needs.
# The library's package then also states its SONAME for packages built against it (shlibs).
find_program(KESTREL_DPKG_SHLIBDEPS dpkg-shlibdeps)
find_program(KESTREL_FILE_COMMAND file)
if(KESTREL_DPKG_SHLIBDEPS AND KESTREL_FILE_COMMAND)
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${KESTREL_LIB_DIR})
    set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
else()
    set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6, libstdc++6, libgcc-s1")
    set(CPACK_DEBIAN_D2XX_LIBFTDI_PACKAGE_DEPENDS "libc6, libstdc++6, libgcc-s1, libftdi1-2, libusb-1.0-0")
endif()

include(CPack)

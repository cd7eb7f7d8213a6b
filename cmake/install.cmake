# What `cmake --install` puts where, by component (the Debian packages follow the components):
#   library        libkestrellink.so.1 (Windows: KestrelLink.dll), and beside it the flash and
#                  JTAG engine scripts load, libkestrelengine.so.1 (KestrelEngine.dll)
#   virtual_cable  the virtual cable's libftd2xx.so, in <libdir>/kestrellink/virtual-cable only,
#                  never in <libdir>, where the loader would take it for the vendor's library;
#                  its USB faces likewise in folders of their own beside it: virtual-usb
#                  (virtual/usb/CMakeLists.txt) and virtual-usb0 (libusb-0.1.so.4 and libusb.so)
#   development    the headers, the CMake package, pkg-config files, import libraries, the
#                  developer documentation and the host examples
#   tool           kestrel, its documentation and the example scenarios
#   d2xx_libftdi   the D2XX library over libftdi1, in <libdir>/kestrellink/d2xx-libftdi only
#                  (d2xx-libftdi/CMakeLists.txt)
# The library component also carries the udev rule that lets users reach the cable (Linux).
# Every path inside the installed tree is relative to the prefix, so a copied prefix still works.
include(CMakePackageConfigHelpers)

set(KESTREL_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/KestrelLink)

install(TARGETS kestrellink EXPORT KestrelLinkTargets
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT library
            NAMELINK_COMPONENT development
    RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT library
    ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT development)
if(NOT WIN32)
    # Relative to the prefix: /usr/lib/udev/rules.d in the packages.
    install(FILES ${PROJECT_SOURCE_DIR}/cmake/60-kestrellink.rules
        DESTINATION lib/udev/rules.d COMPONENT library)
endif()
install(FILES ${PROJECT_SOURCE_DIR}/include/kestrellink.h
    DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT development)
if(WIN32)
    install(FILES ${KESTREL_LIB_DIR}/KestrelLink.lib
        DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT development)
endif()

install(TARGETS ftd2xx_virtual EXPORT KestrelLinkTargets
    LIBRARY DESTINATION ${KESTREL_INSTALL_VIRTUAL_DIR} COMPONENT virtual_cable
    RUNTIME DESTINATION ${KESTREL_INSTALL_VIRTUAL_DIR} COMPONENT virtual_cable
    ARCHIVE DESTINATION ${KESTREL_INSTALL_VIRTUAL_DIR} COMPONENT development)
if(TARGET usb0_virtual)
    set(usb0_dir ${CMAKE_INSTALL_LIBDIR}/kestrellink/virtual-usb0)
    install(TARGETS usb0_virtual LIBRARY DESTINATION ${usb0_dir} COMPONENT virtual_cable)
    install(FILES ${KESTREL_VIRTUAL_USB0_DIR}/libusb.so DESTINATION ${usb0_dir}
        COMPONENT virtual_cable)
endif()
install(DIRECTORY ${PROJECT_SOURCE_DIR}/virtual/include/
    DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/kestrellink COMPONENT development
    FILES_MATCHING PATTERN "*.h")

# The CMake package: imported targets, the version rule, and the test helper.
install(EXPORT KestrelLinkTargets NAMESPACE KestrelLink::
    DESTINATION ${KESTREL_INSTALL_CMAKEDIR} COMPONENT development)
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/KestrelLinkConfig.cmake.in
    ${PROJECT_BINARY_DIR}/KestrelLinkConfig.cmake
    INSTALL_DESTINATION ${KESTREL_INSTALL_CMAKEDIR}
    PATH_VARS KESTREL_INSTALL_VIRTUAL_DIR)
write_basic_package_version_file(${PROJECT_BINARY_DIR}/KestrelLinkConfigVersion.cmake
    COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/KestrelLinkConfig.cmake
              ${PROJECT_BINARY_DIR}/KestrelLinkConfigVersion.cmake
              ${PROJECT_SOURCE_DIR}/cmake/KestrelLinkTesting.cmake
    DESTINATION ${KESTREL_INSTALL_CMAKEDIR} COMPONENT development)

# pkg-config files find the prefix from their own folder.
file(RELATIVE_PATH KESTREL_PC_PREFIX ${CMAKE_INSTALL_FULL_LIBDIR}/pkgconfig ${CMAKE_INSTALL_PREFIX})
string(REGEX REPLACE "/$" "" KESTREL_PC_PREFIX "\${pcfiledir}/${KESTREL_PC_PREFIX}")
foreach(pc kestrellink kestrellink-virtual-cable)
    configure_file(${PROJECT_SOURCE_DIR}/cmake/${pc}.pc.in ${PROJECT_BINARY_DIR}/${pc}.pc @ONLY)
    install(FILES ${PROJECT_BINARY_DIR}/${pc}.pc
        DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT development)
endforeach()

install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/docs/architecture.md
              ${PROJECT_SOURCE_DIR}/docs/windows.md ${PROJECT_SOURCE_DIR}/docs/python.md
              ${PROJECT_SOURCE_DIR}/docs/hardening.md ${PROJECT_SOURCE_DIR}/docs/performance.md
              ${PROJECT_SOURCE_DIR}/docs/usb-identity.md ${PROJECT_SOURCE_DIR}/docs/linux.md
    DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT development)
install(FILES ${PROJECT_SOURCE_DIR}/examples/host_jtag.c ${PROJECT_SOURCE_DIR}/examples/windows_host.c
    DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples COMPONENT development)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/examples/consumer
    DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples COMPONENT development)

if(TARGET kestrelengine)
    install(TARGETS kestrelengine
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT library
                NAMELINK_COMPONENT development
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT library
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT development)
    install(FILES ${PROJECT_SOURCE_DIR}/tools/engine/kestrel_engine.h
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/kestrellink COMPONENT development)
endif()

if(TARGET kestrel)
    install(TARGETS kestrel RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tool)
    install(FILES ${PROJECT_SOURCE_DIR}/docs/kestrel.md ${PROJECT_SOURCE_DIR}/docs/scenarios.md
        DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT tool)
    install(DIRECTORY ${PROJECT_SOURCE_DIR}/examples/scenarios/
        DESTINATION ${CMAKE_INSTALL_DATADIR}/kestrellink/scenarios COMPONENT tool)
endif()

if(WIN32)
    # The Windows host kit: this build installed into one folder, build-windows/kit (bin/ with
    # KestrelLink.dll and kestrel.exe, lib/ with both import libraries and the virtual cable's
    # ftd2xx.dll in its own folder, include/, share/). docs/windows.md describes it.
    add_custom_target(windows_kit
        COMMAND ${CMAKE_COMMAND} -E rm -rf ${PROJECT_BINARY_DIR}/kit
        COMMAND ${CMAKE_COMMAND} --install ${PROJECT_BINARY_DIR} --prefix ${PROJECT_BINARY_DIR}/kit
        DEPENDS kestrellink kestrellink_msvc_import ftd2xx_virtual
        COMMENT "Assembling the Windows host kit in ${PROJECT_BINARY_DIR}/kit" VERBATIM)
    if(TARGET kestrel)
        add_dependencies(windows_kit kestrel kestrelengine)
    endif()
endif()

# The layer orders, bottom to top, one per layered tree. A folder may include any folder below it
# in its tree's order and none above; the public headers (include/kestrellink.h, virtual/include)
# are included by plain name and open to all. docs/architecture.md draws these orders, the
# trees' CMakeLists.txt build these folders, and check_layers.cmake holds every
# #include "<folder>/..." in a tree to its order.

# src/: the library.
set(KESTREL_LAYERS platform binding log mpsse connection uart provision shell)
# tools/: the kestrel tool (flash/ and jtag/ include neither of each other).
set(KESTREL_TOOL_LAYERS common wire flash jtag engine session commands)
# The only files of tools/ that include the operating system's headers.
set(KESTREL_TOOL_LAYERS_OS_SEAM "^common/os_[a-z]+\\.cpp$")
# virtual/: the virtual cable; include/ is its control API's public headers.
set(KESTREL_VIRTUAL_LAYERS include vendor_api record targets engine uart chip faults entry_points
    scenario control usb usb0)

# The library's layers, bottom to top. A folder of src/ may include any folder below it and none
# above; include/kestrellink.h, the public header, is open to all of them. docs/architecture.md
# draws this order, src/CMakeLists.txt builds these folders, and check_layers.cmake holds every
# #include "<folder>/..." in src/ to it.
set(KESTREL_LAYERS platform binding log mpsse connection uart provision shell)

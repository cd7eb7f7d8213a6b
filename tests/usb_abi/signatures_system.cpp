// The rows' functions, typed by the system's libusb header and called, so that the program links
// only while every function, structure and member of the face matches the system's.
#include <libusb.h>

#include <cstdio>

#include "abi_rows.h"
#include "abi_signature.h"

// Two functions are declared deprecated; their types still count.
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"

#define DECLARE_FUNCTION(name) VC_ABI_FUNCTION(name);
#define DECLARE_STRUCT(s) VC_ABI_STRUCT(s);
#define DECLARE_MEMBER(s, m) VC_ABI_MEMBER(s, m);
VC_USB_ABI_FUNCTIONS(DECLARE_FUNCTION)
VC_USB_ABI_STRUCTS(DECLARE_STRUCT)
VC_USB_ABI_MEMBERS(DECLARE_MEMBER)

int main() {
    int functions = 0, structs = 0, members = 0;
#define CALL_FUNCTION(name) (VcAbi_##name(nullptr), ++functions);
#define CALL_STRUCT(s) (VcAbi_##s({}, {}), ++structs);
#define CALL_MEMBER(s, m) (VcAbi_##s##_##m({}, nullptr), ++members);
    VC_USB_ABI_FUNCTIONS(CALL_FUNCTION)
    VC_USB_ABI_STRUCTS(CALL_STRUCT)
    VC_USB_ABI_MEMBERS(CALL_MEMBER)
    std::printf("the face matches the system header: %d functions, %d structures, %d members\n",
                functions, structs, members);
    return 0;
}

// The rows' functions, typed by the USB face's own declarations (usb/usb_api.h).
#include "abi_rows.h"
#include "abi_signature.h"
#include "usb/usb_api.h"

#define DEFINE_FUNCTION(name) \
    VC_ABI_FUNCTION(name) {}
#define DEFINE_STRUCT(s) \
    VC_ABI_STRUCT(s) {}
#define DEFINE_MEMBER(s, m) \
    VC_ABI_MEMBER(s, m) {}

VC_USB_ABI_FUNCTIONS(DEFINE_FUNCTION)
VC_USB_ABI_STRUCTS(DEFINE_STRUCT)
VC_USB_ABI_MEMBERS(DEFINE_MEMBER)

// Names of the entry points, from the one list.
#include <cstring>

#include "vendor_api/entry_list.h"

namespace vcable {
namespace {

constexpr const char* kEntryNames[] = {
#define VC_NAME_ITEM(name) #name,
    VC_ENTRY_LIST(VC_NAME_ITEM)
#undef VC_NAME_ITEM
};

}  // namespace

const char* EntryName(uint32_t index) { return index < kEntryCount ? kEntryNames[index] : nullptr; }

int EntryIndex(const char* name) {
    if (name == nullptr) return -1;
    for (uint32_t i = 0; i < kEntryCount; ++i) {
        if (std::strcmp(kEntryNames[i], name) == 0) return static_cast<int>(i);
    }
    return -1;
}

}  // namespace vcable

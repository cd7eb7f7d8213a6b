// A C++ host of the Windows kit: it calls exports that carry C++ decorated names through the
// header's declarations, which reach them through the import library. Prints each result.
#include <cstdio>

#include "kestrellink.h"

int main() {
    if (LoadD2XXDLL() != 0) return 1;
    wchar_t description[] = L"ZV7300LNK";
    wchar_t serial[] = L"";
    // Before any open there is no channel A to check: 10, without a vendor call.
    std::printf("CheckDeviceTalkable before open: %d\n", CheckDeviceTalkable(nullptr, nullptr, 5));
    std::printf("OpenDevice5_B7: %d\n", OpenDevice5_B7(description, serial, 5));
    std::printf("CheckDeviceTalkable: %d\n", CheckDeviceTalkable(nullptr, nullptr, 5));
    CloseDevice();
    UnLoadD2XXDLL();
    return 0;
}

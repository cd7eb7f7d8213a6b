// Runs one table of D2XX calls against whichever libftd2xx.so the loader finds first and prints
// each call's status and the out-values the programmer's guide defines, one line per row. The
// test runs it over the virtual cable's vendor face and over the library on libftdi1 (with the
// USB face beneath it) and compares the two transcripts line by line. Locations, handles and
// timings are left out: they are the implementations' own, as is the EEPROM's manufacturer ID,
// which the chip's EEPROM does not keep (the vendor face keeps what was programmed, the library
// on libftdi1 reads back the serial number's first two characters).
#include <dlfcn.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace {

using Handle = void*;
using Status = uint32_t;

struct Node {
    uint32_t flags, type, id, location;
    char serial[16];
    char description[64];
    Handle handle;
};

struct Record {  // the EEPROM programming record up to its FT232R fields
    uint32_t signature1, signature2, version;
    uint16_t vendorId, productId;
    char *manufacturer, *manufacturerId, *description, *serial;
    uint16_t maxPower, pnp, selfPowered, remoteWakeup;
    uint8_t rev4[6];
    uint16_t usbVersion;
    uint8_t rev5[8];
    uint16_t usbVersion5;
    uint8_t channelFlags[10];
    uint8_t ft232r[19];
};

void* Symbol(const char* name) {
    void* address = dlsym(RTLD_DEFAULT, name);
    if (address == nullptr) {
        std::fprintf(stderr, "missing %s\n", name);
        std::exit(2);
    }
    return address;
}

// Calls an entry point by name with the given arguments.
template <typename... A>
Status Ft(const char* name, A... args) {
    return reinterpret_cast<Status (*)(A...)>(Symbol(name))(args...);
}
template <typename R, typename... A>
R Vc(const char* name, A... args) {
    return reinterpret_cast<R (*)(A...)>(Symbol(name))(args...);
}

std::string Hex(const uint8_t* bytes, uint32_t n) {
    std::string text;
    char two[4];
    for (uint32_t i = 0; i < n; ++i) {
        std::snprintf(two, sizeof two, "%02X", bytes[i]);
        text += two;
    }
    return text;
}

Handle channelA = nullptr;
Handle channelB = nullptr;

std::string List() {
    uint32_t count = 0;
    Status created = Ft("FT_CreateDeviceInfoList", &count);
    Node nodes[8] = {};
    Status got = Ft("FT_GetDeviceInfoList", nodes, &count);
    std::string text = std::to_string(created) + " " + std::to_string(got);
    for (uint32_t i = 0; i < count && i < 8; ++i) {
        char line[160];
        std::snprintf(line, sizeof line, " [%s|%s|type %u|id %08X|open %u]", nodes[i].description,
                      nodes[i].serial, nodes[i].type, nodes[i].id, nodes[i].flags & 1);
        text += line;
    }
    return text;
}

std::string OpenBy(const char* name, uint32_t flags, Handle* handle) {
    return std::to_string(Ft("FT_OpenEx", const_cast<char*>(name), flags, handle));
}

std::string WriteRead(Handle handle, std::vector<uint8_t> out, uint32_t want) {
    uint32_t written = 0, queued = 0, got = 0;
    Status w = Ft("FT_Write", handle, out.data(), static_cast<uint32_t>(out.size()), &written);
    Status q = 0;
    for (int poll = 0; poll < 200 && queued < want; ++poll) {
        q = Ft("FT_GetQueueStatus", handle, &queued);
    }
    uint8_t in[64] = {};
    Status r = Ft("FT_Read", handle, in, want, &got);
    return std::to_string(w) + " " + std::to_string(written) + " " + std::to_string(q) + " " +
           std::to_string(queued) + " " + std::to_string(r) + " " + Hex(in, got);
}

std::string ReadRecord(Handle handle) {
    char manufacturer[32] = {}, manufacturerId[16] = {}, description[64] = {}, serial[16] = {};
    Record record{};
    record.signature2 = 0xFFFFFFFF;
    record.version = 1;
    record.manufacturer = manufacturer;
    record.manufacturerId = manufacturerId;
    record.description = description;
    record.serial = serial;
    Status status = Ft("FT_EE_Read", handle, &record);
    char text[256];
    std::snprintf(text, sizeof text,
                  "%u %04X:%04X %s|%s|%s power %u self %u wake %u usb %04X flags %s", status,
                  record.vendorId, record.productId, manufacturer, description, serial,
                  record.maxPower, record.selfPowered, record.remoteWakeup, record.usbVersion5,
                  Hex(record.channelFlags, 10).c_str());
    return text;
}

std::string Program(Handle handle, const char* description, const char* serial) {
    Record record{};
    record.signature2 = 0xFFFFFFFF;
    record.version = 1;
    record.vendorId = 0x1209;
    record.productId = 0x0002;
    record.manufacturer = const_cast<char*>("Zelvorinex");
    record.manufacturerId = const_cast<char*>("ZV");
    record.description = const_cast<char*>(description);
    record.serial = const_cast<char*>(serial);
    record.maxPower = 44;
    record.pnp = 1;
    record.remoteWakeup = 1;
    record.usbVersion5 = 0x0200;
    return std::to_string(Ft("FT_EE_Program", handle, &record));
}

std::string UserArea(Handle handle, const char* text) {
    uint32_t size = 0, got = 0;
    Status s = Ft("FT_EE_UASize", handle, &size);
    Status w = Ft("FT_EE_UAWrite", handle, reinterpret_cast<uint8_t*>(const_cast<char*>(text)),
                  static_cast<uint32_t>(std::strlen(text)));
    uint8_t back[128] = {};
    Status r = Ft("FT_EE_UARead", handle, back, size, &got);
    return std::to_string(s) + " " + std::to_string(size) + " " + std::to_string(w) + " " +
           std::to_string(r) + " " + Hex(back, got);
}

struct Row {
    const char* what;
    std::function<std::string()> run;
};

const std::vector<Row> kRows = {
    {"version",
     [] {
         uint32_t v = 0;
         Status s = Ft("FT_GetLibraryVersion", &v);
         return std::to_string(s) + " " + std::to_string(v);
     }},
    {"list", [] { return List(); }},
    {"count",
     [] {
         uint32_t n = 0;
         Status s = Ft("FT_ListDevices", &n, nullptr, 0x80000000u);
         return std::to_string(s) + " " + std::to_string(n);
     }},
    {"describe index 1",
     [] {
         char d[64] = {};
         Status s = Ft("FT_ListDevices", reinterpret_cast<void*>(1), d, 0x40000002u);
         return std::to_string(s) + " " + d;
     }},
    {"describe index 2",
     [] {
         char d[64] = {};
         return std::to_string(Ft("FT_ListDevices", reinterpret_cast<void*>(2), d, 0x40000002u));
     }},
    {"open unknown name",
     [] {
         Handle h = nullptr;
         return OpenBy("nobody", 2, &h);
     }},
    {"open index 7",
     [] {
         Handle h = nullptr;
         return std::to_string(Ft("FT_Open", 7, &h));
     }},
    {"open A by description", [] { return OpenBy("ZV7300LNK A", 2, &channelA); }},
    {"open A again",
     [] {
         Handle h = nullptr;
         return OpenBy("ZV7300LNK A", 2, &h);
     }},
    {"open B by serial", [] { return OpenBy("ZV000001B", 1, &channelB); }},
    {"list while open", [] { return List(); }},
    {"device info",
     [] {
         uint32_t t = 0, id = 0;
         char s[16] = {}, d[64] = {};
         Status st = Ft("FT_GetDeviceInfo", channelB, &t, &id, s, d, nullptr);
         return std::to_string(st) + " " + std::to_string(t) + " " + std::to_string(id) + " " + s +
                " " + d;
     }},
    {"close unknown handle",
     [] { return std::to_string(Ft("FT_Close", reinterpret_cast<Handle>(0x7))); }},
    {"A latency",
     [] {
         uint8_t ms = 0;
         Status s = Ft("FT_SetLatencyTimer", channelA, uint8_t{2});
         Status g = Ft("FT_GetLatencyTimer", channelA, &ms);
         return std::to_string(s) + " " + std::to_string(g) + " " + std::to_string(ms);
     }},
    {"A reset", [] { return std::to_string(Ft("FT_ResetDevice", channelA)); }},
    {"A MPSSE",
     [] { return std::to_string(Ft("FT_SetBitMode", channelA, uint8_t{0}, uint8_t{2})); }},
    {"A bad command echo", [] { return WriteRead(channelA, {0xAA}, 2); }},
    {"A loopback on, bits",
     [] {
         return WriteRead(channelA, {0x84, 0x3D, 0x00, 0x00, 0x5A, 0x85, 0x87}, 1);
     }},
    {"A purge", [] { return std::to_string(Ft("FT_Purge", channelA, 3u)); }},
    {"A timeouts", [] { return std::to_string(Ft("FT_SetTimeouts", channelA, 50u, 50u)); }},
    {"A read nothing",
     [] {
         uint8_t in[8];
         uint32_t got = 9;
         Status s = Ft("FT_Read", channelA, in, 8u, &got);
         return std::to_string(s) + " " + std::to_string(got);
     }},
    {"B baud 115200", [] { return std::to_string(Ft("FT_SetBaudRate", channelB, 115200u)); }},
    {"B 8N1",
     [] {
         return std::to_string(
             Ft("FT_SetDataCharacteristics", channelB, uint8_t{8}, uint8_t{0}, uint8_t{0}));
     }},
    {"B no flow control",
     [] {
         return std::to_string(
             Ft("FT_SetFlowControl", channelB, uint16_t{0}, uint8_t{0}, uint8_t{0}));
     }},
    {"B loopback",
     [] {
         return WriteRead(channelB, {'h', 'e', 'l', 'l', 'o'}, 5);
     }},
    {"B DTR",
     [] {
         return std::to_string(Ft("FT_SetDtr", channelB)) + " " +
                std::to_string(Ft("FT_ClrDtr", channelB));
     }},
    {"B status",
     [] {
         uint32_t rx = 9, tx = 9, ev = 9;
         Status s = Ft("FT_GetStatus", channelB, &rx, &tx, &ev);
         return std::to_string(s) + " " + std::to_string(rx) + " " + std::to_string(tx);
     }},
    {"EEPROM read", [] { return ReadRecord(channelA); }},
    {"user area", [] { return UserArea(channelA, "hello"); }},
    {"user area too long",
     [] {
         std::string big(200, 'x');
         return std::to_string(
             Ft("FT_EE_UAWrite", channelA, reinterpret_cast<uint8_t*>(big.data()), 200u));
     }},
    {"erase", [] { return std::to_string(Ft("FT_EraseEE", channelA)); }},
    {"EEPROM read erased", [] { return ReadRecord(channelA); }},
    {"user area erased",
     [] {
         uint32_t size = 0;
         return std::to_string(Ft("FT_EE_UASize", channelA, &size));
     }},
    {"program", [] { return Program(channelA, "Bench cable", "BC000042"); }},
    {"EEPROM read programmed", [] { return ReadRecord(channelA); }},
    {"program too long",
     [] {
         return Program(channelA, "A description far longer than the shared words hold",
                        "BC000042");
     }},
    {"close B", [] { return std::to_string(Ft("FT_Close", channelB)); }},
    {"close B again", [] { return std::to_string(Ft("FT_Close", channelB)); }},
    {"close A", [] { return std::to_string(Ft("FT_Close", channelA)); }},
    {"unplug, then list",
     [] {
         Vc<int>("vc_unplug", 0);
         return List();
     }},
    {"open after unplug",
     [] {
         Handle h = nullptr;
         return OpenBy("ZV7300LNK A", 2, &h);
     }},
};

}  // namespace

int main(int argc, char** argv) {
    const char* library = argc > 1 ? argv[1] : "libftd2xx.so";
    if (dlopen(library, RTLD_NOW | RTLD_GLOBAL) == nullptr) {
        std::fprintf(stderr, "%s\n", dlerror());
        return 2;
    }
    for (const Row& row : kRows) std::printf("%s: %s\n", row.what, row.run().c_str());
    return 0;
}

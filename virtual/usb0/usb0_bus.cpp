// The bus and its devices as the face lists them: one bus, "001", holding a record for every chip
// on it. A record stays from one usb_find_devices to the next while its chip stays enumerated as
// it was; a chip that left the bus, or came back as another device, loses its record (freed, as
// the library frees it) and a new one takes its place.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "entry_points/model_lock.h"
#include "usb0/usb0_api.h"
#include "usb0/usb0_objects.h"

using namespace vcable;
using namespace vcable::usb0;

extern "C" {
VC_API usb_bus* usb_busses = nullptr;
}

namespace {

constexpr const char* kBusName = "001";
constexpr uint32_t kBusLocation = 1;
constexpr int kFirstAddress = 2;  // devices follow the root hub, in the device table's order

uint64_t EnumerationOf(const UsbDeviceRecord* record) {
    return static_cast<const Listing*>(record->dev)->enumeration;
}

bool Holds(const UsbDeviceRecord* list, uint64_t enumeration) {
    for (; list != nullptr; list = list->next) {
        if (EnumerationOf(list) == enumeration) return true;
    }
    return false;
}

template <typename T>
void Append(T*& head, T* item) {
    item->next = nullptr;
    item->prev = nullptr;
    if (head == nullptr) {
        head = item;
        return;
    }
    T* last = head;
    while (last->next != nullptr) last = last->next;
    last->next = item;
    item->prev = last;
}

template <typename T>
void Unlink(T*& head, T* item) {
    (item->prev != nullptr ? item->prev->next : head) = item->next;
    if (item->next != nullptr) item->next->prev = item->prev;
    item->next = item->prev = nullptr;
}

UsbDeviceRecord* NewRecord(const Device& chip, int index) {
    auto* record = static_cast<UsbDeviceRecord*>(std::calloc(1, sizeof(UsbDeviceRecord)));
    if (record == nullptr) return nullptr;
    record->dev = new Listing{chip.enumeration};
    record->devnum = static_cast<uint8_t>(kFirstAddress + index);
    std::snprintf(record->filename, sizeof record->filename, "%03u", record->devnum);
    if (!FillDescriptors(*record, chip)) {
        usb_free_dev(record);
        return nullptr;
    }
    return record;
}

// Brings the bus's records in line with `found`, a fresh listing that this takes over; returns
// the records dropped and added.
int Merge(usb_bus* bus, UsbDeviceRecord* found) {
    int changes = 0;
    for (UsbDeviceRecord* record = bus->devices; record != nullptr;) {
        UsbDeviceRecord* next = record->next;
        if (!Holds(found, EnumerationOf(record))) {
            Unlink(bus->devices, record);
            usb_free_dev(record);
            ++changes;
        }
        record = next;
    }
    while (found != nullptr) {
        UsbDeviceRecord* record = found;
        Unlink(found, record);
        if (Holds(bus->devices, EnumerationOf(record))) {
            usb_free_dev(record);
            continue;
        }
        record->bus = bus;
        Append(bus->devices, record);
        ++changes;
    }
    return changes;
}

}  // namespace

extern "C" {

VC_API void usb_init(void) {
    if (const char* level = std::getenv("USB_DEBUG")) usb_set_debug(std::atoi(level));
    usb_os_init();
}

VC_API void usb_os_init(void) {
    ModelLock lock;
    DeviceCount();  // fills the device table from the scenario
}

VC_API int usb_os_find_busses(usb_bus** busses) {
    auto* bus = static_cast<usb_bus*>(std::calloc(1, sizeof(usb_bus)));
    if (bus == nullptr) return Fail(ENOMEM, "could not list the busses");
    std::snprintf(bus->dirname, sizeof bus->dirname, "%s", kBusName);
    bus->location = kBusLocation;
    *busses = bus;
    return 0;
}

VC_API int usb_find_busses(void) {
    ModelLock lock;
    usb_bus* found = nullptr;
    if (int e = usb_os_find_busses(&found); e < 0) return e;
    int changes = 0;
    while (found != nullptr) {
        usb_bus* bus = found;
        Unlink(found, bus);
        bool known = false;
        for (usb_bus* b = usb_busses; b != nullptr; b = b->next) {
            known = known || std::strcmp(b->dirname, bus->dirname) == 0;
        }
        if (known) {
            usb_free_bus(bus);
        } else {
            Append(usb_busses, bus);
            ++changes;
        }
    }
    return changes;
}

VC_API int usb_os_find_devices(usb_bus* bus, struct usb_device** devices) {
    ModelLock lock;
    *devices = nullptr;
    if (std::strcmp(bus->dirname, kBusName) != 0) return 0;
    for (int i = 0; i < DeviceCount(); ++i) {
        const Device* chip = DeviceAt(i);
        if (!chip->Visible()) continue;
        UsbDeviceRecord* record = NewRecord(*chip, i);
        if (record == nullptr) {
            while (UsbDeviceRecord* first = *devices) {
                Unlink(*devices, first);
                usb_free_dev(first);
            }
            return Fail(ENOMEM, "could not list the devices of bus %s", bus->dirname);
        }
        Append(*devices, record);
    }
    return 0;
}

VC_API int usb_os_determine_children(usb_bus*) { return 0; }  // no hubs on the virtual bus

VC_API int usb_find_devices(void) {
    ModelLock lock;
    int changes = 0;
    for (usb_bus* bus = usb_busses; bus != nullptr; bus = bus->next) {
        UsbDeviceRecord* found = nullptr;
        if (int e = usb_os_find_devices(bus, &found); e < 0) return e;
        changes += Merge(bus, found);
        usb_os_determine_children(bus);
    }
    return changes;
}

VC_API usb_bus* usb_get_busses(void) { return usb_busses; }

VC_API void usb_free_dev(struct usb_device* dev) {
    if (dev == nullptr) return;
    usb_destroy_configuration(dev);
    std::free(dev->children);
    delete static_cast<Listing*>(dev->dev);
    std::free(dev);
}

VC_API void usb_free_bus(usb_bus* bus) { std::free(bus); }

}  // extern "C"

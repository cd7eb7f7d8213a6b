#include "scenario/state_file.h"

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <vector>

#include "chip/devices.h"
#include "engine/mpsse_engine.h"
#include "scenario/output_file.h"
#include "scenario/whole_file.h"
#include "targets/flash/spi_flash.h"
#include "targets/jtag/jtag_chain.h"
#include "targets/jtag/jtag_memory.h"

namespace vcable::state_file {
namespace {

constexpr char kMagic[8] = {'V', 'C', 'S', 'T', 'A', 'T', 'E', '1'};
// Far above what the largest model saves (its flashes and JTAG memories); only a bound on a
// file that is not a state file at all.
constexpr uintmax_t kMaxStateFileBytes = uintmax_t{4} << 30;
constexpr uint32_t kMaxUserAreaSize = 65535;

// The programming record without its four string pointers: the fields before them and the fields
// after them, in the vendor's order, as one block each.
constexpr size_t kRecordHead = offsetof(FtProgramData, manufacturer);
constexpr size_t kRecordTailStart = offsetof(FtProgramData, maxPower);
constexpr size_t kRecordTail = sizeof(FtProgramData) - kRecordTailStart;
static_assert(kRecordHead == 16 && kRecordTail == 56, "the record's numeric fields moved");

// The CRC-32 of zip and PNG (reflected polynomial 0xEDB88320), a byte at a time.
struct CrcTable {
    uint32_t entries[256];
    constexpr CrcTable() : entries() {
        for (uint32_t n = 0; n < 256; ++n) {
            uint32_t c = n;
            for (int bit = 0; bit < 8; ++bit) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1)));
            entries[n] = c;
        }
    }
};
constexpr CrcTable kCrcTable;

uint32_t Crc32(const uint8_t* data, size_t count) {
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 0; i < count; ++i) crc = (crc >> 8) ^ kCrcTable.entries[(crc ^ data[i]) & 0xFF];
    return ~crc;
}

SpiFlash* FlashOf(Device& device) {
    auto* engine = dynamic_cast<MpsseEngine*>(device.engine.get());
    return engine ? engine->Find<SpiFlash>() : nullptr;
}

// The memories behind the cable's JTAG devices, device 0 first; devices without one are skipped.
std::vector<JtagMemory*> MemoriesOf(Device& device) {
    std::vector<JtagMemory*> memories;
    auto* engine = dynamic_cast<MpsseEngine*>(device.engine.get());
    JtagChain* chain = engine ? engine->Find<JtagChain>() : nullptr;
    for (int i = 0; chain && i < chain->DeviceCount(); ++i) {
        if (JtagMemory* memory = chain->Device(i).Registers().Memory()) memories.push_back(memory);
    }
    return memories;
}

// More memories than any chain the scenario reader accepts: a count above it is damage.
constexpr uint32_t kMaxMemories = 4096;

class Writer {
  public:
    void Bytes(const void* data, size_t count) {
        const auto* bytes = static_cast<const uint8_t*>(data);
        out_.insert(out_.end(), bytes, bytes + count);
    }
    void U8(uint8_t value) { out_.push_back(value); }
    void U32(uint32_t value) {
        for (int i = 0; i < 4; ++i) out_.push_back(static_cast<uint8_t>(value >> (8 * i)));
    }
    void Text(const std::string& text) {
        U32(static_cast<uint32_t>(text.size()));
        Bytes(text.data(), text.size());
    }
    std::vector<uint8_t>& Out() { return out_; }

  private:
    std::vector<uint8_t> out_;
};

// Reads the file's fields in order; the first read past the end marks the file as cut short.
class Reader {
  public:
    Reader(const uint8_t* data, size_t count) : data_(data), count_(count) {}
    bool Ok() const { return ok_; }
    void Fail() { ok_ = false; }
    bool AtEnd() const { return at_ == count_; }
    const uint8_t* Take(size_t n) {
        if (!ok_ || count_ - at_ < n) {
            ok_ = false;
            return nullptr;
        }
        at_ += n;
        return data_ + at_ - n;
    }
    uint8_t U8() {
        const uint8_t* p = Take(1);
        return p ? *p : 0;
    }
    uint32_t U32() {
        const uint8_t* p = Take(4);
        return p ? uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 |
                       uint32_t{p[3]} << 24
                 : 0;
    }
    // A string of at most `limit` bytes; a longer one marks the file as damaged.
    std::string Text(size_t limit) {
        const uint32_t n = U32();
        if (n > limit) ok_ = false;
        const uint8_t* p = Take(n);
        return p ? std::string(reinterpret_cast<const char*>(p), n) : std::string();
    }

  private:
    const uint8_t* data_;
    size_t count_;
    size_t at_ = 0;
    bool ok_ = true;
};

// The flash byte: 0 none, 1 contents only (older files), 2 contents and status registers.
constexpr uint8_t kFlashWithStatus = 2;

// One device as the file holds it.
struct DeviceState {
    uint8_t channels = 0;
    Eeprom eeprom;
    bool hasFlash = false;
    const uint8_t* flash = nullptr;  // into the file's bytes
    uint32_t flashSize = 0;
    const uint8_t* flashStatus = nullptr;  // status registers 1 to 3, absent in older files
    struct Image {
        const uint8_t* bytes;  // into the file's bytes
        uint32_t size;
    };
    std::vector<Image> memories;  // the JTAG devices' memories, in chain order
};

void WriteDevice(Writer& w, Device& device) {
    const Eeprom& e = device.eeprom;
    w.U8(static_cast<uint8_t>(device.ChannelCount()));
    w.U8(e.programmed ? 1 : 0);
    w.Bytes(&e.record, kRecordHead);
    w.Bytes(reinterpret_cast<const uint8_t*>(&e.record) + kRecordTailStart, kRecordTail);
    for (const std::string* text : {&e.manufacturer, &e.manufacturerId, &e.description, &e.serial})
        w.Text(*text);
    w.U32(static_cast<uint32_t>(e.userArea.size()));
    w.Bytes(e.userArea.data(), e.userArea.size());
    const SpiFlash* flash = FlashOf(device);
    w.U8(flash ? kFlashWithStatus : 0);
    if (flash) {
        w.U32(static_cast<uint32_t>(flash->Memory().size()));
        w.Bytes(flash->Memory().data(), flash->Memory().size());
        uint8_t status[3];
        flash->StoredStatus(status);
        w.Bytes(status, sizeof status);
    }
    const std::vector<JtagMemory*> memories = MemoriesOf(device);
    w.U32(static_cast<uint32_t>(memories.size()));
    for (const JtagMemory* memory : memories) {
        w.U32(static_cast<uint32_t>(memory->Image().size()));
        w.Bytes(memory->Image().data(), memory->Image().size());
    }
}

DeviceState ReadDevice(Reader& r) {
    DeviceState d;
    d.channels = r.U8();
    d.eeprom.programmed = r.U8() != 0;
    if (const uint8_t* head = r.Take(kRecordHead)) std::memcpy(&d.eeprom.record, head, kRecordHead);
    if (const uint8_t* tail = r.Take(kRecordTail)) {
        std::memcpy(reinterpret_cast<uint8_t*>(&d.eeprom.record) + kRecordTailStart, tail,
                    kRecordTail);
    }
    // The strings fit the EEPROM's storage, or a host's read-back buffers would overflow.
    d.eeprom.manufacturer = r.Text(kManufacturerSize - 1);
    d.eeprom.manufacturerId = r.Text(kManufacturerIdSize - 1);
    d.eeprom.description = r.Text(kDescriptionSize - 1);
    d.eeprom.serial = r.Text(kSerialSize - 1);
    const uint32_t userArea = r.U32();
    if (userArea > kMaxUserAreaSize) r.Fail();
    if (const uint8_t* area = r.Take(userArea)) d.eeprom.userArea.assign(area, area + userArea);
    const uint8_t flashKind = r.U8();
    d.hasFlash = flashKind != 0;
    if (d.hasFlash) {
        d.flashSize = r.U32();
        d.flash = r.Take(d.flashSize);
        if (flashKind == kFlashWithStatus) d.flashStatus = r.Take(3);
    }
    const uint32_t memories = r.U32();
    if (memories > kMaxMemories) r.Fail();
    for (uint32_t m = 0; m < memories && r.Ok(); ++m) {
        const uint32_t size = r.U32();
        const uint8_t* bytes = r.Take(size);
        d.memories.push_back({bytes, size});
    }
    return d;
}

// Why the saved device does not fit device `index` of the scenario, or empty when it does.
std::string Mismatch(const DeviceState& saved, Device& device, int index) {
    const std::string at = "device " + std::to_string(index) + ": ";
    if (saved.channels != device.ChannelCount()) {
        return at + "saved with " + std::to_string(saved.channels) +
               " channel(s), but the scenario's device has " +
               std::to_string(device.ChannelCount());
    }
    const SpiFlash* flash = FlashOf(device);
    if (saved.hasFlash != (flash != nullptr)) {
        return at + (saved.hasFlash
                         ? "saved with an SPI flash, but the scenario's device has none"
                         : "saved without an SPI flash, but the scenario's device has one");
    }
    if (flash && saved.flashSize != flash->Memory().size()) {
        return at + "its flash was saved with " + std::to_string(saved.flashSize) +
               " bytes, but the scenario's has " + std::to_string(flash->Memory().size());
    }
    const std::vector<JtagMemory*> memories = MemoriesOf(device);
    if (saved.memories.size() != memories.size()) {
        return at + "saved with " + std::to_string(saved.memories.size()) +
               " JTAG memory(s), but the scenario's chain has " + std::to_string(memories.size());
    }
    for (size_t m = 0; m < memories.size(); ++m) {
        if (saved.memories[m].size != memories[m]->Image().size()) {
            return at + "JTAG memory " + std::to_string(m) + " was saved with " +
                   std::to_string(saved.memories[m].size) + " bytes, but the scenario's has " +
                   std::to_string(memories[m]->Image().size());
        }
    }
    return "";
}

void Apply(const DeviceState& saved, Device& device) {
    device.eeprom.programmed = saved.eeprom.programmed;
    device.eeprom.record = saved.eeprom.record;
    device.eeprom.manufacturer = saved.eeprom.manufacturer;
    device.eeprom.manufacturerId = saved.eeprom.manufacturerId;
    device.eeprom.description = saved.eeprom.description;
    device.eeprom.serial = saved.eeprom.serial;
    device.eeprom.userArea = saved.eeprom.userArea;
    if (SpiFlash* flash = FlashOf(device)) {
        std::memcpy(flash->Memory().data(), saved.flash, saved.flashSize);
        if (saved.flashStatus) flash->RestoreStatus(saved.flashStatus);
    }
    const std::vector<JtagMemory*> memories = MemoriesOf(device);
    for (size_t m = 0; m < memories.size(); ++m) {
        memories[m]->Write(0, saved.memories[m].bytes, saved.memories[m].size);
    }
    ReplugDevice(device);
}

}  // namespace

bool Save(const std::string& path, std::string& error) {
    Writer w;
    w.Bytes(kMagic, sizeof kMagic);
    w.U32(static_cast<uint32_t>(DeviceCount()));
    for (int d = 0; d < DeviceCount(); ++d) WriteDevice(w, *DeviceAt(d));
    w.U32(Crc32(w.Out().data(), w.Out().size()));
    return output_file::WriteWholeFile(path, w.Out().data(), w.Out().size(), error);
}

namespace {

// Reads the file and checks it against the devices in force; `apply` then loads it into them.
bool Read(const std::string& path, bool apply, std::string& error) {
    std::string contents;
    std::string why;
    if (!scenario_file::ReadWholeFile(path, kMaxStateFileBytes, contents, why)) {
        error = path + ": cannot read the state file (" + why + ")";
        return false;
    }
    const std::vector<uint8_t> bytes(contents.begin(), contents.end());
    if (bytes.size() < sizeof kMagic + 8 || std::memcmp(bytes.data(), kMagic, sizeof kMagic) != 0) {
        error = path + ": not a state file of the virtual cable";
        return false;
    }
    const size_t body = bytes.size() - 4;
    Reader crc(bytes.data() + body, 4);
    if (crc.U32() != Crc32(bytes.data(), body)) {
        error = path + ": the state file is damaged (its checksum does not match)";
        return false;
    }
    Reader r(bytes.data() + sizeof kMagic, body - sizeof kMagic);
    const uint32_t count = r.U32();
    std::vector<DeviceState> devices;
    for (uint32_t d = 0; d < count && r.Ok(); ++d) devices.push_back(ReadDevice(r));
    if (!r.Ok() || !r.AtEnd()) {
        error = path + ": the state file is damaged (its fields do not add up)";
        return false;
    }
    if (count != static_cast<uint32_t>(DeviceCount())) {
        error = path + ": saved with " + std::to_string(count) +
                " device(s), but the scenario has " + std::to_string(DeviceCount());
        return false;
    }
    for (int d = 0; d < DeviceCount(); ++d) {
        const std::string why = Mismatch(devices[d], *DeviceAt(d), d);
        if (!why.empty()) {
            error = path + ": " + why;
            return false;
        }
    }
    for (int d = 0; apply && d < DeviceCount(); ++d) Apply(devices[d], *DeviceAt(d));
    return true;
}

}  // namespace

bool Load(const std::string& path, std::string& error) { return Read(path, true, error); }

bool Fits(const std::string& path, std::string& error) { return Read(path, false, error); }

}  // namespace vcable::state_file

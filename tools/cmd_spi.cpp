// kestrel spi id|read|write: the SPI flash behind chip select GPIOL2.
#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>

#include "commands.h"
#include "spi_ops.h"

namespace kestrel {
namespace {

struct SpiOptions {
    uint32_t address = 0;
    uint32_t size = 0;  // read: 0 = to the end of the flash
    std::string file;
    bool noErase = false;
    bool verify = false;
};

int RunId() {
    CallResult result;
    uint8_t id[3] = {0, 0, 0};
    if (!FlashJedecId(id, result)) return Fail(kExitFailed, result.Describe());
    const uint32_t size = FlashSizeFromJedec(id);
    std::printf("JEDEC ID %s: manufacturer 0x%02X, type 0x%02X, capacity code 0x%02X",
                HexBytes(id, 3).c_str(), id[0], id[1], id[2]);
    if (size) std::printf(" (%u KiB)", size / 1024);
    std::printf("\n");
    return kExitOk;
}

int RunRead(const SpiOptions& o) {
    CallResult result;
    uint32_t size = o.size;
    if (size == 0) {
        uint8_t id[3] = {0, 0, 0};
        if (!FlashJedecId(id, result)) return Fail(kExitFailed, result.Describe());
        const uint32_t flash = FlashSizeFromJedec(id);
        if (flash == 0) return Fail(kExitFailed, "the flash's size is unknown; give --size");
        if (o.address >= flash) return Fail(kExitUsage, "--address is beyond the flash");
        size = flash - o.address;
    }
    std::vector<uint8_t> data(size);
    Progress progress("reading", size);
    Stopwatch watch;
    if (!FlashRead(o.address, data.data(), size, result,
                   [&](uint32_t done) { progress.Update(done); })) {
        return Fail(kExitFailed, "read failed: " + result.Describe());
    }
    std::ofstream out(o.file, std::ios::binary);
    out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(size));
    if (!out) return Fail(kExitFile, "cannot write " + o.file);
    std::printf("read %u bytes from 0x%06X into %s in %.1f ms\n", size, o.address, o.file.c_str(),
                watch.Milliseconds());
    return kExitOk;
}

int RunWrite(const SpiOptions& o) {
    std::ifstream in(o.file, std::ios::binary);
    if (!in) return Fail(kExitFile, "cannot read " + o.file);
    const std::vector<uint8_t> data{std::istreambuf_iterator<char>(in),
                                    std::istreambuf_iterator<char>()};
    const auto size = static_cast<uint32_t>(data.size());
    CallResult result;
    Stopwatch watch;
    {
        Progress progress("writing", size);
        if (!FlashWrite(o.address, data.data(), size, !o.noErase, result,
                        [&](uint32_t done) { progress.Update(done); })) {
            return Fail(kExitFailed, "write failed: " + result.Describe());
        }
    }
    std::printf("wrote %u bytes at 0x%06X from %s in %.1f ms\n", size, o.address, o.file.c_str(),
                watch.Milliseconds());
    if (!o.verify) return kExitOk;
    std::vector<uint8_t> back(size);
    if (!FlashRead(o.address, back.data(), size, result)) {
        return Fail(kExitFailed, "verify read failed: " + result.Describe());
    }
    for (uint32_t i = 0; i < size; ++i) {
        if (back[i] != data[i]) {
            char text[96];
            std::snprintf(text, sizeof text, "verify failed at 0x%06X: wrote %02X, read %02X",
                          o.address + i, data[i], back[i]);
            return Fail(kExitFailed, text);
        }
    }
    std::printf("verified %u bytes\n", size);
    return kExitOk;
}

}  // namespace

Command AddSpiCommand(CLI::App& root) {
    auto o = std::make_shared<SpiOptions>();
    CLI::App* app = root.add_subcommand("spi", "SPI flash on chip select GPIOL2");
    app->require_subcommand(1);
    CLI::App* id = app->add_subcommand("id", "Read the flash's JEDEC ID");
    CLI::App* read = app->add_subcommand("read", "Read the flash into a file");
    read->add_option("file", o->file, "Output file")->required();
    read->add_option("--address", o->address, "First byte address")->capture_default_str();
    read->add_option("--size", o->size, "Bytes to read (default: to the end of the flash)");
    CLI::App* write = app->add_subcommand("write", "Write a file into the flash");
    write->add_option("file", o->file, "Input file")->required()->check(CLI::ExistingFile);
    write->add_option("--address", o->address, "First byte address")->capture_default_str();
    write->add_flag("--no-erase", o->noErase, "Program without erasing the sectors first");
    write->add_flag("--verify", o->verify, "Read the bytes back and compare");
    return {
        app, [o, id, read](const GlobalOptions& options) {
            Session session(options);
            if (const int code = session.Start()) return code;
            CallResult result;
            if (!session.OpenMpsse(result)) {
                return session.Finish(Fail(kExitFailed, result.Describe()));
            }
            const int code = id->parsed() ? RunId() : read->parsed() ? RunRead(*o) : RunWrite(*o);
            return session.Finish(code);
        }};
}

}  // namespace kestrel

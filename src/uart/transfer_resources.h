// The per-call resources of the file transfers: one zero-filled buffer and one file, each
// released by its owner on every way out of the call.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>

namespace kl::uart {

struct FreeBuffer {
    void operator()(uint8_t* bytes) const { free(bytes); }
};
using TransferBuffer = std::unique_ptr<uint8_t, FreeBuffer>;

struct CloseFile {
    void operator()(FILE* file) const { fclose(file); }
};
using TransferFile = std::unique_ptr<FILE, CloseFile>;

// A zero-filled buffer of size bytes (a size of 0 still gets a valid buffer); empty when out of
// memory.
inline TransferBuffer AllocateTransferBuffer(uint32_t size) {
    return TransferBuffer(static_cast<uint8_t*>(calloc(size ? size : 1, 1)));
}

}  // namespace kl::uart

// Stand-in MPSSE engine for builds without the real one: it answers every byte with the
// bad-command echo (0xFA, byte), which is enough for a host's synchronisation to succeed. It lives
// in an archive of its own that is linked after the model, so the real engine's definition wins
// whenever it is present; the weak attribute covers builds that put both in one link.
#include "mpsse_port.h"

namespace vcable {
namespace {

constexpr uint8_t kBadCommandEcho = 0xFA;

class EchoOnlyPort final : public MpssePort {
  public:
    void Reset() override {}
    void Write(const uint8_t* data, size_t count, std::vector<uint8_t>& rx) override {
        for (size_t i = 0; i < count; ++i) {
            rx.push_back(kBadCommandEcho);
            rx.push_back(data[i]);
        }
    }
};

}  // namespace

#if !defined(_WIN32)
__attribute__((weak))
#endif
std::unique_ptr<MpssePort>
MakeDefaultMpssePort() {
    return std::make_unique<EchoOnlyPort>();
}

}  // namespace vcable

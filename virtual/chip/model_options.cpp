// The model's options and the environment variable that forces the delivery.
#include "chip/model_options.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>

namespace vcable {
namespace {

// Owned by this file; written by scenarios and the control API.
struct ModelOptions {
    ReplyDelivery scenarioDelivery = ReplyDelivery::kImmediate;
    std::optional<ReplyDelivery> overridden;
    Platform platform = Platform::kWindows;
};
ModelOptions options;

// VCABLE_REPLY_DELIVERY, read once; an unknown value is reported and ignored.
std::optional<ReplyDelivery> FromEnvironment() {
    static const std::optional<ReplyDelivery> chosen = []() -> std::optional<ReplyDelivery> {
        const char* value = std::getenv("VCABLE_REPLY_DELIVERY");
        if (value == nullptr || *value == '\0') return std::nullopt;
        if (std::strcmp(value, "usb") == 0) return ReplyDelivery::kUsb;
        if (std::strcmp(value, "immediate") == 0) return ReplyDelivery::kImmediate;
        std::fprintf(stderr,
                     "virtual cable: VCABLE_REPLY_DELIVERY=%s is neither \"usb\" nor "
                     "\"immediate\"; ignored\n",
                     value);
        return std::nullopt;
    }();
    return chosen;
}

}  // namespace

ReplyDelivery CurrentReplyDelivery() {
    if (options.overridden) return *options.overridden;
    return FromEnvironment().value_or(options.scenarioDelivery);
}

Platform CurrentPlatform() { return options.platform; }

void SetScenarioOptions(ReplyDelivery delivery, Platform platform) {
    options = ModelOptions{delivery, std::nullopt, platform};
}

void OverrideReplyDelivery(ReplyDelivery delivery) { options.overridden = delivery; }

void SetPlatform(Platform platform) { options.platform = platform; }

}  // namespace vcable

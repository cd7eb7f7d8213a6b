// Choices of the model that no vendor call makes: how replies reach the host, and which operating
// system's vendor library is modelled. A scenario sets both; the environment variable
// VCABLE_REPLY_DELIVERY ("usb" or "immediate") chooses the delivery for every scenario, so that
// any host can be run in either; a control call overrides both until the next scenario.
#pragma once

namespace vcable {

enum class ReplyDelivery {
    kImmediate,  // every reply is in the receive queue, whole, as soon as its command has run
    kUsb         // replies come as the chip's USB packets bring them (chip/usb_delivery.h)
};

enum class Platform {
    kWindows,  // the cable's home: every entry point as the Windows vendor library has it
    kLinux     // the Linux vendor library: no port cycle, no locations for open devices
};

ReplyDelivery CurrentReplyDelivery();
Platform CurrentPlatform();

// A new scenario's choices; forgets any override.
void SetScenarioOptions(ReplyDelivery delivery, Platform platform);
// The control API's override of the delivery, and its setting of the platform.
void OverrideReplyDelivery(ReplyDelivery delivery);
void SetPlatform(Platform platform);

}  // namespace vcable

// How a channel's replies travel from the chip to the host over one USB speed. The chip keeps
// what its engine or UART produced in a buffer and sends it in packets of the speed's payload
// (62 bytes on the full-speed chip): a full packet as soon as it is there, what is left when the
// latency timer runs out, or at once when a send-immediate command asks for it. The timer
// restarts whenever a packet goes and otherwise runs on by itself, sending status-only packets,
// so a short reply waits anything from 0 to the latency. Packets follow each other at the link's
// rate (the packets one (micro)frame carries).
//
// Positions are offsets in the channel's stream of reply bytes; times are model picoseconds of
// the link's speed (record/wire_clock.h). Every call takes the present time of that speed, which
// never goes back.
#pragma once

#include <cstdint>
#include <deque>
#include <optional>

namespace vcable {

class PacketLink {
  public:
    explicit PacketLink(int speed);

    // The latency timer's period; setting it restarts the timer now.
    void SetLatency(uint32_t ms, uint64_t nowPs);

    // The bytes up to `end` have been produced by now; with flush, all of them leave at once.
    void Produce(uint64_t end, bool flush, uint64_t nowPs);

    // The bytes up to `end` are put into the host's queue directly, behind anything on its way.
    void Deliver(uint64_t end, uint64_t nowPs);
    // Everything up to `end` counts as at the host already (a purge, a clock reset); nothing
    // before it is on its way any more.
    void Settle(uint64_t end, uint64_t nowPs);

    // The position up to which bytes have reached the host by now.
    uint64_t Arrived(uint64_t nowPs);
    // When the bytes up to `end` will all have reached the host if nothing more is produced.
    uint64_t ArrivalOf(uint64_t end, uint64_t nowPs);
    // The next moment after now at which more bytes reach the host, if any are on their way.
    std::optional<uint64_t> NextArrival(uint64_t nowPs);
    // Whether produced bytes have not reached the host yet.
    bool InFlight(uint64_t nowPs);

  private:
    struct Packet {
        uint64_t end;
        uint64_t arrivalPs;
    };

    // Runs the timer's expiries and the packets' arrivals up to now.
    void Advance(uint64_t nowPs);
    void Send(uint64_t end, uint64_t atPs);
    uint64_t NextExpiry() const { return timerStartPs_ + latencyPs_; }

    uint64_t payload_;
    uint64_t packetPs_;  // how long one packet holds the link
    uint64_t latencyPs_;
    uint64_t timerStartPs_ = 0;
    uint64_t linkFreePs_ = 0;
    uint64_t arrived_ = 0;   // bytes at the host
    uint64_t sent_ = 0;      // bytes in packets (arrived or travelling)
    uint64_t produced_ = 0;  // bytes the chip holds or has sent
    std::deque<Packet> travelling_;
};

}  // namespace vcable

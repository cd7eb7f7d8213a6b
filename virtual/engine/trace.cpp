// The decoded trace: one line per command, for example
//   0x19 write bytes -ve LSB len=4 data=01 02 03 04
//   0x6B TMS -ve read +ve bits=1 data=83 reply=80
#include <cstdio>

#include "engine/mpsse_engine.h"
#include "engine/opcodes.h"

namespace vcable {
namespace {

using namespace mpsse;

// Bytes beyond this many per field are counted, not listed.
constexpr uint32_t kTraceBytesShown = 16;

std::string HexByte(uint8_t byte) {
    char text[4];
    std::snprintf(text, sizeof text, "%02X", byte);
    return text;
}

void Append(std::string& field, uint32_t& count, uint8_t byte) {
    if (count < kTraceBytesShown) {
        if (!field.empty()) field += ' ';
        field += HexByte(byte);
    }
    ++count;
}

}  // namespace

std::string DescribeOpcode(uint8_t op) {
    if (IsShift(op)) {
        const bool write = op & kWriteTdi;
        const bool read = op & kReadTdo;
        std::string text = write && read ? "write+read" : write ? "write" : "read";
        text += (op & kBitMode) ? " bits" : " bytes";
        if (write) text += (op & kOutOnFallingEdge) ? " out -ve" : " out +ve";
        if (read) text += (op & kInOnFallingEdge) ? " in -ve" : " in +ve";
        text += (op & kLsbFirst) ? " LSB" : " MSB";
        return text;
    }
    if (IsTms(op)) {
        std::string text = (op & kOutOnFallingEdge) ? "TMS out -ve" : "TMS out +ve";
        if (op & kReadTdo) text += (op & kInOnFallingEdge) ? " in -ve" : " in +ve";
        return text;
    }
    switch (op) {
        case kSetLowByte:
            return "set low byte (value, direction)";
        case kReadLowByte:
            return "read low byte";
        case kSetHighByte:
            return "set high byte (value, direction)";
        case kReadHighByte:
            return "read high byte";
        case kLoopbackOn:
            return "loopback on";
        case kLoopbackOff:
            return "loopback off";
        case kSetDivisor:
            return "set clock divisor";
        case kSendImmediate:
            return "send immediate";
        case kWaitIoHigh:
            return "wait on GPIOL1 high";
        case kWaitIoLow:
            return "wait on GPIOL1 low";
        default:
            return "";
    }
}

void MpsseEngine::TraceBegin() {
    const std::string name = DescribeOpcode(op_);
    traceLine_ = "0x" + HexByte(op_) + " " + (name.empty() ? "bad command" : name);
    traceOut_.clear();
    traceIn_.clear();
    traceOutCount_ = 0;
    traceInCount_ = 0;
}

void MpsseEngine::TraceData(const char* label, uint8_t byte) {
    if (label[0] == 'r') {
        Append(traceIn_, traceInCount_, byte);
    } else {
        Append(traceOut_, traceOutCount_, byte);
    }
}

void MpsseEngine::TraceEnd() {
    std::string line = traceLine_;
    if (IsShift(op_) && !(op_ & kBitMode)) {
        line += " len=" + std::to_string((args_[0] | (args_[1] << 8)) + 1);
    } else if (IsShift(op_) || IsTms(op_)) {
        line += " bits=" + std::to_string(args_[0] + 1);
    }
    const bool isData = IsShift(op_) || IsTms(op_);
    if (traceOutCount_ > 0) {
        line += (isData ? " data=" : " args=") + traceOut_;
        if (traceOutCount_ > kTraceBytesShown) line += " ...";
    }
    if (traceInCount_ > 0) {
        line += " reply=" + traceIn_;
        if (traceInCount_ > kTraceBytesShown) line += " ...";
    }
    Emit(line);
}

void MpsseEngine::Emit(const std::string& line) const {
    if (traceFn_) traceFn_(traceUser_, line.c_str());
}

}  // namespace vcable

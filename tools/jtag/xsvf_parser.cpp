// XSVF, the binary form: one command byte, then its arguments (numbers big-endian, values as
// ceil(bits / 8) bytes with the most significant byte first). The parser keeps the state the
// commands set (XSDRSIZE, XTDOMASK, XRUNTEST, XREPEAT, XENDIR, XENDDR, the XSDRINC masks) and
// turns each shifting command into scans that carry all of it.
#include <array>
#include <cstdio>

#include "jtag/parsers.h"

namespace kestrel::jtag {
namespace {

enum XsvfCommand : uint8_t {
    kXComplete = 0x00,
    kXTdoMask = 0x01,
    kXSir = 0x02,
    kXSdr = 0x03,
    kXRunTest = 0x04,
    kXRepeat = 0x07,
    kXSdrSize = 0x08,
    kXSdrTdo = 0x09,
    kXSetSdrMasks = 0x0A,
    kXSdrInc = 0x0B,
    kXSdrB = 0x0C,
    kXSdrC = 0x0D,
    kXSdrE = 0x0E,
    kXSdrTdoB = 0x0F,
    kXSdrTdoC = 0x10,
    kXSdrTdoE = 0x11,
    kXState = 0x12,
    kXEndIr = 0x13,
    kXEndDr = 0x14,
    kXSir2 = 0x15,
    kXComment = 0x16,
    kXWait = 0x17,
};
constexpr std::array<const char*, 0x18> kNames = {
    "XCOMPLETE", "XTDOMASK", "XSIR",         "XSDR",    "XRUNTEST", nullptr, nullptr,    "XREPEAT",
    "XSDRSIZE",  "XSDRTDO",  "XSETSDRMASKS", "XSDRINC", "XSDRB",    "XSDRC", "XSDRE",    "XSDRTDOB",
    "XSDRTDOC",  "XSDRTDOE", "XSTATE",       "XENDIR",  "XENDDR",   "XSIR2", "XCOMMENT", "XWAIT"};

// Retries of a failed comparison until a file sets XREPEAT.
constexpr uint32_t kDefaultRepeat = 32;

// The value resized to `count` bits: cut, or padded with zeros.
Bits Resized(const Bits& value, size_t count) {
    if (value.size() >= count) return value.Slice(0, count);
    Bits out = value;
    out.Append(Bits(count - value.size()));
    return out;
}

class XsvfParser {
  public:
    XsvfParser(const std::vector<uint8_t>& bytes, Program& program, ParseError& error)
        : bytes_(bytes), program_(program), error_(error) {
        budget_.fileBytes = bytes.size();
    }

    bool Run() {
        while (true) {
            start_ = pos_;
            uint8_t code = 0;
            if (!U8(code)) return Fail("the file ends without XCOMPLETE");
            if (code >= kNames.size() || !kNames[code]) {
                char hex[8];
                std::snprintf(hex, sizeof hex, "0x%02X", code);
                return Fail(std::string("unknown XSVF command ") + hex);
            }
            name_ = kNames[code];
            ++program_.commands;
            if (code == kXComplete) return true;
            if (!Command(static_cast<XsvfCommand>(code))) return false;
        }
    }

  private:
    bool Fail(std::string message) {
        error_ = {false, static_cast<uint32_t>(start_), 0, std::move(message)};
        return false;
    }
    bool Truncated() { return Fail(std::string(name_) + " is cut off by the end of the file"); }
    bool U8(uint8_t& value) {
        if (pos_ >= bytes_.size()) return false;
        value = bytes_[pos_++];
        return true;
    }
    bool Number(uint32_t& value, int byteCount) {
        if (pos_ + byteCount > bytes_.size()) return Truncated();
        value = 0;
        for (int i = 0; i < byteCount; ++i) value = (value << 8) | bytes_[pos_++];
        return true;
    }
    bool Value(size_t bits, Bits& value) {
        const size_t count = (bits + 7) / 8;
        if (pos_ + count > bytes_.size()) return Truncated();
        if (!Bits::FromBigEndian(bytes_.data() + pos_, count, bits, value)) {
            return Fail(std::string(name_) + ": a value is wider than its length of " +
                        std::to_string(bits) + " bits");
        }
        pos_ += count;
        return true;
    }
    bool State(Tap& state) {
        uint8_t code = 0;
        if (!U8(code)) return Truncated();
        if (code >= kTapStateCount)
            return Fail(std::string(name_) + ": no TAP state has code " + std::to_string(code));
        state = static_cast<Tap>(code);
        return true;
    }
    void Emit(std::string command, decltype(Op::what) what) {
        program_.ops.push_back(
            {static_cast<uint32_t>(start_), std::move(command), std::move(what)});
    }
    // Counts a scan of `bits` bits, and its wait in Run-Test/Idle, against the file's limits.
    // (XSDRINC makes a whole scan from each value of its data bits alone.)
    bool TakeScan(uint64_t bits, uint32_t waitUs) {
        std::string problem;
        if (budget_.TakeScanBits(bits, problem) && budget_.TakeWait(waitUs / 1e6, 0, problem)) {
            return true;
        }
        return Fail(std::string(name_) + ": " + problem);
    }
    // A wait of `us` microseconds, which one XRUNTEST or XWAIT may ask for.
    bool WaitFits(uint32_t us) {
        if (us / 1e6 <= kMaxRunSeconds) return true;
        return Fail(std::string(name_) + " " + std::to_string(us) +
                    " us: the time must be at most " +
                    std::to_string(static_cast<int>(kMaxRunSeconds)) + " s");
    }
    // A DR scan of `tdi`, compared with the last expected value when `compare`.
    bool EmitDrScan(std::string command, Bits tdi, bool compare, bool retry, bool leaveShift) {
        if (!TakeScan(tdi.size(), retry ? runTestUs_ : 0)) return false;
        ScanOp scan;
        scan.tdi = std::move(tdi);
        if (compare && !expected_.empty()) {
            scan.expected = Resized(expected_, scan.tdi.size());
            if (!maskAllOnes_) scan.mask = Resized(mask_, scan.tdi.size());
            if (!scan.mask.empty() && scan.mask.All(false)) scan.expected = scan.mask = Bits();
        }
        scan.leaveShift = leaveShift;
        scan.end = leaveShift ? endDr_ : Tap::kDrShift;
        scan.retries = retry ? repeat_ : 0;
        scan.waitUs = retry ? runTestUs_ : 0;
        Emit(std::move(command), std::move(scan));
        return true;
    }
    bool Command(XsvfCommand code);
    // The commands with more to them than a value or two: an IR scan, an end state, a wait.
    bool SirCommand(XsvfCommand code);
    bool EndStateCommand(XsvfCommand code);
    bool WaitCommand();
    bool SdrInc();

    const std::vector<uint8_t>& bytes_;
    Program& program_;
    ParseError& error_;
    size_t pos_ = 0;
    size_t start_ = 0;
    const char* name_ = "";
    uint32_t sdrSize_ = 0;
    Bits mask_;
    bool maskAllOnes_ = true;
    Bits expected_;
    Bits addressMask_, dataMask_;
    uint32_t runTestUs_ = 0;
    uint32_t repeat_ = kDefaultRepeat;
    Tap endIr_ = Tap::kIdle;
    Tap endDr_ = Tap::kIdle;
    FileBudget budget_;
};

bool XsvfParser::Command(XsvfCommand code) {
    const std::string name = name_;
    uint8_t byte = 0;
    Bits tdi;
    switch (code) {
        case kXTdoMask:
            maskAllOnes_ = false;
            return Value(sdrSize_, mask_);
        case kXSir:
        case kXSir2:
            return SirCommand(code);
        case kXSdr:
            return Value(sdrSize_, tdi) && EmitDrScan(name, std::move(tdi), true, true, true);
        case kXSdrTdo:
        case kXSdrTdoB:
        case kXSdrTdoC:
        case kXSdrTdoE:
            return Value(sdrSize_, tdi) && Value(sdrSize_, expected_) &&
                   EmitDrScan(name, std::move(tdi), true, code == kXSdrTdo,
                              code == kXSdrTdo || code == kXSdrTdoE);
        case kXSdrB:
        case kXSdrC:
        case kXSdrE:
            return Value(sdrSize_, tdi) &&
                   EmitDrScan(name, std::move(tdi), false, false, code == kXSdrE);
        case kXRunTest:
            return Number(runTestUs_, 4) && WaitFits(runTestUs_);
        case kXRepeat:
            if (!U8(byte)) return Truncated();
            repeat_ = byte;
            return true;
        case kXSdrSize:
            if (!Number(sdrSize_, 4)) return false;
            return sdrSize_ < kMaxScanBits ||
                   Fail("XSDRSIZE " + std::to_string(sdrSize_) + " is longer than " +
                        std::to_string(kMaxScanBits) + " bits");
        case kXSetSdrMasks:
            return Value(sdrSize_, addressMask_) && Value(sdrSize_, dataMask_);
        case kXSdrInc:
            return SdrInc();
        case kXState: {
            Tap state;
            if (!State(state)) return false;
            Emit(name + " " + SvfName(state), MoveOp{state, {}});
            return true;
        }
        case kXEndIr:
        case kXEndDr:
            return EndStateCommand(code);
        case kXComment:
            while (U8(byte)) {
                if (byte == 0) return true;
            }
            return Fail("XCOMMENT has no terminating zero byte");
        case kXWait:
            return WaitCommand();
        case kXComplete:
            break;
    }
    return true;
}

bool XsvfParser::SirCommand(XsvfCommand code) {
    uint32_t number = 0;
    Bits tdi;
    if (!Number(number, code == kXSir ? 1 : 2) || !Value(number, tdi) ||
        !TakeScan(number, runTestUs_)) {
        return false;
    }
    ScanOp scan;
    scan.ir = true;
    scan.tdi = std::move(tdi);
    scan.end = endIr_;
    scan.waitUs = runTestUs_;
    Emit(std::string(name_) + " " + std::to_string(number), std::move(scan));
    return true;
}

bool XsvfParser::EndStateCommand(XsvfCommand code) {
    uint8_t byte = 0;
    if (!U8(byte)) return Truncated();
    if (byte > 1) {
        return Fail(std::string(name_) + " takes 0 (Run-Test/Idle) or 1 (pause), not " +
                    std::to_string(byte));
    }
    if (code == kXEndIr) endIr_ = byte ? Tap::kIrPause : Tap::kIdle;
    if (code == kXEndDr) endDr_ = byte ? Tap::kDrPause : Tap::kIdle;
    return true;
}

bool XsvfParser::WaitCommand() {
    RunOp run;
    uint32_t number = 0;
    if (!State(run.state) || !State(run.end) || !Number(number, 4) || !WaitFits(number) ||
        !TakeScan(0, number)) {
        return false;
    }
    run.minSeconds = number / 1e6;
    run.timeAsClocks = IsStable(run.state);
    Emit(name_, run);
    return true;
}

// XSDRINC: the start address is shifted as given; then, as many times as the count byte says,
// the address field (the TDI bits under the address mask, read as a number) goes up by one and
// the next data value fills the bits under the data mask, each shift compared like XSDR.
bool XsvfParser::SdrInc() {
    Bits tdi;
    uint8_t times = 0;
    if (!Value(sdrSize_, tdi)) return false;
    if (!U8(times)) return Truncated();
    if (addressMask_.size() != sdrSize_ || dataMask_.size() != sdrSize_) {
        return Fail("XSDRINC needs XSETSDRMASKS for the current XSDRSIZE first");
    }
    size_t dataBits = 0;
    for (size_t i = 0; i < sdrSize_; ++i) dataBits += dataMask_.Get(i);
    std::vector<Bits> data(times);
    for (Bits& value : data) {
        if (!Value(dataBits, value)) return false;
    }
    if (!EmitDrScan("XSDRINC", tdi, true, true, true)) return false;
    for (uint32_t n = 0; n < times; ++n) {
        bool carry = true;
        for (size_t i = 0; i < sdrSize_ && carry; ++i) {
            if (!addressMask_.Get(i)) continue;
            carry = tdi.Get(i);
            tdi.Set(i, !tdi.Get(i));
        }
        for (size_t i = 0, d = 0; i < sdrSize_; ++i) {
            if (dataMask_.Get(i)) tdi.Set(i, data[n].Get(d++));
        }
        if (!EmitDrScan("XSDRINC (" + std::to_string(n + 1) + " of " + std::to_string(times) + ")",
                        tdi, true, true, true)) {
            return false;
        }
    }
    return true;
}

}  // namespace

bool ParseXsvf(const std::vector<uint8_t>& bytes, Program& program, ParseError& error) {
    program = {};
    program.binary = true;
    XsvfParser parser(bytes, program, error);
    return parser.Run();
}

}  // namespace kestrel::jtag

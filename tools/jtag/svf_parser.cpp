// SVF statements into operations. The parser follows the chain's state from command to command
// (scans end in ENDIR/ENDDR, RUNTEST in its end state, STATE where it says), so that explicit
// STATE paths can be checked against the TAP's transitions before anything is clocked.
#include <array>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <optional>

#include "jtag/parsers.h"
#include "jtag/svf_tokens.h"

namespace kestrel::jtag {
namespace {

// The six scan-shaped commands; each remembers its last length and values.
enum Pattern { kHir, kHdr, kTir, kTdr, kSir, kSdr, kPatternCount };
constexpr std::array<const char*, kPatternCount> kPatternNames = {"HIR", "HDR", "TIR",
                                                                  "TDR", "SIR", "SDR"};

struct PatternState {
    bool defined = false;
    uint32_t length = 0;
    Bits tdi, tdo, mask, smask;  // tdo empty: nothing to compare
};

std::string Upper(std::string_view word) {
    std::string out(word);
    for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

// A real number as SVF writes it: digits, optionally '.' and digits, optionally an exponent.
std::optional<double> Real(std::string_view text) {
    size_t i = 0;
    auto digits = [&] {
        const size_t start = i;
        while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) ++i;
        return i > start;
    };
    if (!digits()) return std::nullopt;
    if (i < text.size() && text[i] == '.') {
        ++i;
        if (!digits()) return std::nullopt;
    }
    if (i < text.size() && (text[i] == 'E' || text[i] == 'e')) {
        ++i;
        if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
        if (!digits()) return std::nullopt;
    }
    if (i != text.size()) return std::nullopt;
    return std::strtod(std::string(text).c_str(), nullptr);
}

class SvfParser {
  public:
    SvfParser(size_t fileBytes, Program& program, ParseError& error)
        : program_(program), error_(error) {
        budget_.fileBytes = fileBytes;
    }

    bool Statement(const SvfStatement& statement) {
        tokens_ = &statement.tokens;
        next_ = 1;
        const SvfToken& head = statement.tokens[0];
        if (head.hex) return Fail(head, "a command name is expected here");
        command_ = Upper(head.text);
        line_ = head.line;
        ++program_.commands;
        for (int p = 0; p < kPatternCount; ++p) {
            if (command_ == kPatternNames[p]) return PatternCommand(static_cast<Pattern>(p));
        }
        if (command_ == "ENDIR" || command_ == "ENDDR") return EndCommand();
        if (command_ == "STATE") return StateCommand();
        if (command_ == "RUNTEST") return RunTestCommand();
        if (command_ == "FREQUENCY") return FrequencyCommand();
        if (command_ == "TRST") return TrstCommand();
        if (command_ == "PIO" || command_ == "PIOMAP") {
            error_ = {true, head.line, head.column,
                      command_ + " is not supported: the cable has no parallel test pins"};
            return false;
        }
        return Fail(head, "unknown command '" + head.text + "'");
    }

  private:
    bool Fail(const SvfToken& at, std::string message) {
        error_ = {false, at.line, at.column, std::move(message)};
        return false;
    }
    bool AtEnd() const { return next_ >= tokens_->size(); }
    const SvfToken& Peek() const { return (*tokens_)[next_]; }
    const SvfToken& Last() const { return (*tokens_)[tokens_->size() - 1]; }
    // The next token as an upper-case word, or "" for a hex value or the end.
    std::string PeekWord() const { return AtEnd() || Peek().hex ? "" : Upper(Peek().text); }
    bool ExpectEnd() {
        return AtEnd() || Fail(Peek(), "unexpected '" + Peek().text + "' in " + command_);
    }
    bool Word(std::string& word, const char* what) {
        if (AtEnd()) return Fail(Last(), std::string(what) + " is missing");
        if (Peek().hex) return Fail(Peek(), std::string(what) + " is expected here");
        word = Upper((*tokens_)[next_++].text);
        return true;
    }
    // The next word must be `keyword`.
    bool Keyword(const char* keyword) {
        const SvfToken& at = AtEnd() ? Last() : Peek();
        std::string word;
        if (!Word(word, keyword)) return false;
        return word == keyword ||
               Fail(at, std::string(keyword) + " expected, not '" + at.text + "'");
    }
    bool Number(double& value, const char* what) {
        if (AtEnd()) return Fail(Last(), std::string(what) + " is missing");
        const SvfToken& token = Peek();
        const std::optional<double> real = token.hex ? std::nullopt : Real(token.text);
        if (!real)
            return Fail(token, std::string(what) + " is expected here, not '" + token.text + "'");
        ++next_;
        value = *real;
        return true;
    }
    bool WaitFits(const SvfToken& token, double seconds) {
        if (seconds <= kMaxRunSeconds) return true;
        return Fail(token, "the time must be at most " +
                               std::to_string(static_cast<int>(kMaxRunSeconds)) + " SEC");
    }
    bool State(Tap& state, bool stableOnly) {
        const SvfToken* at = AtEnd() ? &Last() : &Peek();
        std::string word;
        if (!Word(word, "a TAP state")) return false;
        if (!TapFromSvfName(word, state)) return Fail(*at, "'" + word + "' is not a TAP state");
        if (stableOnly && !IsStable(state)) {
            return Fail(*at, word + " is not a stable state (RESET, IDLE, DRPAUSE or IRPAUSE)");
        }
        return true;
    }
    void Emit(std::string command, decltype(Op::what) what) {
        program_.ops.push_back({line_, std::move(command), std::move(what)});
    }

    bool LengthFits(Pattern pattern, uint32_t bits, const SvfToken& lengthToken);
    bool PatternCommand(Pattern pattern);
    // The scan an SIR or SDR of `bits` makes, with its header and trailer around it.
    void EmitScan(Pattern pattern, uint32_t bits);
    bool EndCommand();
    bool StateCommand();
    bool RunTestCommand();
    bool FrequencyCommand();
    bool TrstCommand();

    Program& program_;
    ParseError& error_;
    const std::vector<SvfToken>* tokens_ = nullptr;
    size_t next_ = 0;
    std::string command_;
    uint32_t line_ = 0;
    std::array<PatternState, kPatternCount> patterns_{};
    Tap tap_ = Tap::kReset;
    Tap endIr_ = Tap::kIdle;
    Tap endDr_ = Tap::kIdle;
    Tap runState_ = Tap::kIdle;
    Tap runEnd_ = Tap::kIdle;
    FileBudget budget_;
};

// Every vector a command makes is as long as what it holds (an SIR or SDR: with its header and
// trailer), so the length is bounded before any vector is made.
bool SvfParser::LengthFits(Pattern pattern, uint32_t bits, const SvfToken& lengthToken) {
    uint64_t held = bits;
    if (pattern == kSir || pattern == kSdr) {
        const bool ir = pattern == kSir;
        held += patterns_[ir ? kHir : kHdr].length + uint64_t{patterns_[ir ? kTir : kTdr].length};
    }
    if (held >= kMaxScanBits) {
        return Fail((*tokens_)[0], "with header and trailer the scan is longer than " +
                                       std::to_string(kMaxScanBits) + " bits");
    }
    std::string problem;
    return budget_.TakeScanBits(held, problem) || Fail(lengthToken, problem);
}

bool SvfParser::PatternCommand(Pattern pattern) {
    double length = 0;
    const SvfToken& lengthToken = AtEnd() ? Last() : Peek();
    if (!Number(length, "the length in bits")) return false;
    if (length != std::floor(length) || length >= kMaxScanBits) {
        return Fail(lengthToken, "the length must be a whole number of bits below " +
                                     std::to_string(kMaxScanBits));
    }
    const auto bits = static_cast<uint32_t>(length);
    if (!LengthFits(pattern, bits, lengthToken)) return false;
    std::string problem;
    std::array<std::optional<Bits>, 4> given;  // TDI, TDO, MASK, SMASK
    static const std::array<const char*, 4> kNames = {"TDI", "TDO", "MASK", "SMASK"};
    while (!AtEnd()) {
        const SvfToken& name = Peek();
        const std::string word = PeekWord();
        size_t which = 0;
        while (which < kNames.size() && word != kNames[which]) ++which;
        if (which == kNames.size()) return Fail(name, "TDI, TDO, MASK or SMASK expected here");
        if (given[which]) return Fail(name, word + " is given twice");
        ++next_;
        if (AtEnd() || !Peek().hex) return Fail(name, word + " needs a value in parentheses");
        given[which].emplace();
        if (!Bits::FromHex(Peek().text, bits, *given[which], problem)) {
            return Fail(Peek(), word + ": " + problem);
        }
        ++next_;
    }
    PatternState& state = patterns_[pattern];
    const bool sameLength = state.defined && state.length == bits;
    if (!given[0] && !sameLength && bits > 0) {
        return Fail((*tokens_)[0], command_ + " " + std::to_string(bits) +
                                       " needs TDI: the length differs from the last " + command_);
    }
    state.defined = true;
    state.length = bits;
    state.tdi = given[0] ? *given[0] : sameLength ? state.tdi : Bits(bits);
    state.tdo = given[1] ? *given[1] : Bits();
    state.mask = given[2] ? *given[2] : sameLength ? state.mask : Bits(bits, true);
    state.smask = given[3] ? *given[3] : sameLength ? state.smask : Bits(bits, true);
    if (pattern == kSir || pattern == kSdr) EmitScan(pattern, bits);
    return true;
}

void SvfParser::EmitScan(Pattern pattern, uint32_t bits) {
    const PatternState& state = patterns_[pattern];
    const bool ir = pattern == kSir;
    const PatternState& header = patterns_[ir ? kHir : kHdr];
    const PatternState& trailer = patterns_[ir ? kTir : kTdr];
    ScanOp scan;
    scan.ir = ir;
    scan.end = ir ? endIr_ : endDr_;
    scan.headerBits = header.length;
    scan.trailerBits = trailer.length;
    const bool compare = !header.tdo.empty() || !state.tdo.empty() || !trailer.tdo.empty();
    for (const PatternState* part : {&header, static_cast<const PatternState*>(&state), &trailer}) {
        scan.tdi.Append(part->tdi);
        scan.tdiCare.Append(part->smask);
        if (!compare) continue;
        const bool checked = !part->tdo.empty();
        scan.expected.Append(checked ? part->tdo : Bits(part->length));
        scan.mask.Append(checked ? part->mask : Bits(part->length));
    }
    // A mask of zeros compares nothing: no reason to wait for TDO.
    if (compare && scan.mask.All(false)) scan.expected = scan.mask = Bits();
    tap_ = scan.end;
    Emit(command_ + " " + std::to_string(bits), std::move(scan));
}

bool SvfParser::EndCommand() {
    Tap state;
    if (!State(state, true) || !ExpectEnd()) return false;
    (command_ == "ENDIR" ? endIr_ : endDr_) = state;
    return true;
}

bool SvfParser::StateCommand() {
    std::vector<Tap> path;
    std::vector<const SvfToken*> at;
    while (!AtEnd()) {
        at.push_back(&Peek());
        Tap state;
        if (!State(state, false)) return false;
        path.push_back(state);
    }
    if (path.empty()) return Fail((*tokens_)[0], "STATE needs a state");
    if (!IsStable(path.back())) {
        return Fail(*at.back(),
                    std::string("STATE must end in a stable state, not ") + SvfName(path.back()));
    }
    MoveOp move;
    move.target = path.back();
    if (path.size() > 1) {
        Tap from = tap_;
        for (size_t i = 0; i < path.size(); ++i) {
            // Test-Logic-Reset is reached from anywhere (five TMS ones).
            const bool adjacent = NextTap(from, false) == path[i] || NextTap(from, true) == path[i];
            if (!adjacent && path[i] != Tap::kReset) {
                return Fail(*at[i], std::string(SvfName(path[i])) + " does not follow " +
                                        SvfName(from) + " in one TCK");
            }
            from = path[i];
        }
        move.path = path;
    }
    tap_ = move.target;
    Emit("STATE", std::move(move));
    return true;
}

bool SvfParser::RunTestCommand() {
    RunOp run;
    bool stateGiven = false;
    Tap state = runState_;
    if (TapFromSvfName(PeekWord(), state)) {
        if (!State(state, true)) return false;
        stateGiven = true;
    }
    double number = 0;
    const SvfToken& numberToken = AtEnd() ? Last() : Peek();
    if (!Number(number, "a TCK count or a time")) return false;
    std::string unit;
    if (!Word(unit, "TCK, SCK or SEC")) return false;
    bool timeGiven = unit == "SEC";
    if (unit == "TCK" || unit == "SCK") {
        if (number != std::floor(number)) return Fail(numberToken, "the count must be whole");
        if (number > static_cast<double>(kMaxRunClocks)) {
            return Fail(numberToken, "the count must be at most " + std::to_string(kMaxRunClocks));
        }
        if (unit == "TCK") run.clocks = static_cast<uint64_t>(number);
        run.timeAsClocks = unit == "TCK";
        if (unit == "SCK") {
            Emit("RUNTEST", NoteOp{"RUNTEST " + numberToken.text +
                                   " SCK: the cable has no system clock; only the time is kept"});
        }
        if (!AtEnd() && !Peek().hex && Real(Peek().text)) {
            const SvfToken& timeToken = Peek();
            if (!Number(run.minSeconds, "the minimum time") || !Keyword("SEC")) return false;
            if (!WaitFits(timeToken, run.minSeconds)) return false;
            timeGiven = true;
        }
    } else if (unit == "SEC") {
        if (!WaitFits(numberToken, number)) return false;
        run.minSeconds = number;
        run.timeAsClocks = false;
    } else {
        return Fail((*tokens_)[next_ - 1], "TCK, SCK or SEC expected, not '" + unit + "'");
    }
    if (PeekWord() == "MAXIMUM") {
        if (!timeGiven) return Fail(Peek(), "MAXIMUM needs a minimum time before it");
        ++next_;
        const SvfToken& at = AtEnd() ? Last() : Peek();
        if (!Number(run.maxSeconds, "the maximum time") || !Keyword("SEC")) return false;
        if (run.maxSeconds < run.minSeconds)
            return Fail(at, "the maximum time is below the minimum");
    }
    Tap end = stateGiven ? state : runEnd_;
    if (PeekWord() == "ENDSTATE") {
        ++next_;
        if (!State(end, true)) return false;
    }
    if (!ExpectEnd()) return false;
    std::string problem;
    if (!budget_.TakeWait(run.minSeconds, run.clocks, problem)) return Fail(numberToken, problem);
    runState_ = state;
    runEnd_ = end;
    run.state = state;
    run.end = end;
    tap_ = end;
    Emit("RUNTEST", run);
    return true;
}

bool SvfParser::FrequencyCommand() {
    FrequencyOp frequency;
    if (!AtEnd()) {
        const SvfToken& at = Peek();
        if (!Number(frequency.hz, "the frequency") || !Keyword("HZ")) return false;
        if (frequency.hz <= 0) return Fail(at, "the frequency must be above 0");
    }
    if (!ExpectEnd()) return false;
    Emit("FREQUENCY", frequency);
    return true;
}

bool SvfParser::TrstCommand() {
    const SvfToken& at = AtEnd() ? Last() : Peek();
    std::string mode;
    if (!Word(mode, "ON, OFF, Z or ABSENT")) return false;
    if (mode != "ON" && mode != "OFF" && mode != "Z" && mode != "ABSENT") {
        return Fail(at, "TRST takes ON, OFF, Z or ABSENT");
    }
    if (!ExpectEnd()) return false;
    if (mode == "ON" || mode == "OFF") {
        Emit("TRST", TrstOp{mode == "ON"});
    } else {
        Emit("TRST", NoteOp{mode == "Z" ? "TRST Z: the reset line is left undriven"
                                        : "TRST ABSENT: the chain has no test reset"});
    }
    return true;
}

}  // namespace

bool ParseSvf(std::string_view text, Program& program, ParseError& error) {
    program = {};
    std::vector<SvfStatement> statements;
    if (!ReadSvfStatements(text, statements, error)) return false;
    SvfParser parser(text.size(), program, error);
    for (const SvfStatement& statement : statements) {
        if (!parser.Statement(statement)) return false;
    }
    return true;
}

}  // namespace kestrel::jtag

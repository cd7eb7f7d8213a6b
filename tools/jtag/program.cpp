#include "jtag/program.h"

namespace kestrel::jtag {

std::string Where(const Program& program, const Op& op) {
    return (program.binary ? "byte " : "") + std::to_string(op.where);
}

std::string Describe(const ParseError& error, const std::string& file, bool binary) {
    if (binary) return file + ":byte " + std::to_string(error.line) + ": " + error.message;
    return file + ":" + std::to_string(error.line) + ":" + std::to_string(error.column) + ": " +
           error.message;
}

ProgramTotals Totals(const Program& program) {
    ProgramTotals totals;
    for (const Op& op : program.ops) {
        if (const auto* scan = std::get_if<ScanOp>(&op.what)) {
            ++totals.scans;
            totals.scanBits += scan->tdi.size();
            if (!scan->expected.empty()) ++totals.checks;
            totals.runSeconds += scan->waitUs / 1e6;  // XRUNTEST: the wait after the scan
        } else if (const auto* run = std::get_if<RunOp>(&op.what)) {
            totals.runClocks += run->clocks;
            totals.runSeconds += run->minSeconds;
        }
    }
    return totals;
}

}  // namespace kestrel::jtag

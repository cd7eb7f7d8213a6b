// SVF text cut into statements: words and parenthesised hex values, each with its line and
// column, up to the semicolon that ends the statement. Comments (from '!' or "//" to the end of
// the line) and line breaks are dropped, also inside a hex value that spans lines.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "jtag/program.h"

namespace kestrel::jtag {

struct SvfToken {
    bool hex = false;  // a parenthesised value: `text` holds its digits without blanks
    std::string text;
    uint32_t line = 0;
    uint32_t column = 0;
};

struct SvfStatement {
    std::vector<SvfToken> tokens;  // tokens[0] is the command
};

// Cuts the whole text into statements; false with the place of the first lexical error (an
// unclosed parenthesis, a stray character, a last statement without its semicolon).
bool ReadSvfStatements(std::string_view text, std::vector<SvfStatement>& statements,
                       ParseError& error);

}  // namespace kestrel::jtag

#include "jtag/svf_tokens.h"

namespace kestrel::jtag {
namespace {

// Walks the text keeping line and column (both from 1) of the next character.
class Cursor {
  public:
    explicit Cursor(std::string_view text) : text_(text) {}

    bool AtEnd() const { return pos_ >= text_.size(); }
    char Peek(size_t ahead = 0) const {
        return pos_ + ahead < text_.size() ? text_[pos_ + ahead] : '\0';
    }
    void Next() {
        if (text_[pos_++] == '\n') {
            ++line_;
            column_ = 1;
        } else {
            ++column_;
        }
    }
    // At '!' or "//": skips to the end of the line and returns true.
    bool SkipComment() {
        if (Peek() != '!' && !(Peek() == '/' && Peek(1) == '/')) return false;
        while (!AtEnd() && Peek() != '\n') Next();
        return true;
    }
    void SkipBlanksAndComments() {
        while (!AtEnd()) {
            if (SkipComment()) continue;
            if (!IsBlank(Peek())) return;
            Next();
        }
    }
    uint32_t line() const { return line_; }
    uint32_t column() const { return column_; }

    static bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

  private:
    std::string_view text_;
    size_t pos_ = 0;
    uint32_t line_ = 1;
    uint32_t column_ = 1;
};

bool EndsWord(const Cursor& cursor) {
    const char c = cursor.Peek();
    return cursor.AtEnd() || Cursor::IsBlank(c) || c == '(' || c == ')' || c == ';' || c == '!' ||
           (c == '/' && cursor.Peek(1) == '/');
}

bool Fail(ParseError& error, uint32_t line, uint32_t column, std::string message) {
    error = {false, line, column, std::move(message)};
    return false;
}

// After the '(': the digits up to ')', blanks and comments dropped.
bool ReadHex(Cursor& cursor, SvfToken& token, ParseError& error) {
    while (true) {
        cursor.SkipBlanksAndComments();
        if (cursor.AtEnd()) {
            return Fail(error, token.line, token.column, "'(' is never closed by ')'");
        }
        const char c = cursor.Peek();
        if (c == ')') {
            cursor.Next();
            return true;
        }
        if (c == '(' || c == ';') {
            return Fail(error, cursor.line(), cursor.column(),
                        std::string("'") + c + "' inside a hex value");
        }
        token.text += c;
        cursor.Next();
    }
}

}  // namespace

bool ReadSvfStatements(std::string_view text, std::vector<SvfStatement>& statements,
                       ParseError& error) {
    Cursor cursor(text);
    SvfStatement current;
    while (true) {
        cursor.SkipBlanksAndComments();
        if (cursor.AtEnd()) break;
        SvfToken token;
        token.line = cursor.line();
        token.column = cursor.column();
        const char c = cursor.Peek();
        if (c == ';') {
            cursor.Next();
            if (current.tokens.empty())
                return Fail(error, token.line, token.column, "empty command");
            statements.push_back(std::move(current));
            current = {};
            continue;
        }
        if (c == ')') return Fail(error, token.line, token.column, "')' without '('");
        if (c == '(') {
            cursor.Next();
            token.hex = true;
            if (!ReadHex(cursor, token, error)) return false;
        } else {
            while (!EndsWord(cursor)) {
                token.text += cursor.Peek();
                cursor.Next();
            }
        }
        current.tokens.push_back(std::move(token));
    }
    if (!current.tokens.empty()) {
        const SvfToken& first = current.tokens.front();
        return Fail(error, first.line, first.column,
                    "'" + first.text + "' is not ended by ';' before the end of the file");
    }
    return true;
}

}  // namespace kestrel::jtag

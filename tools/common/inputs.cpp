// Numbers and file roles of the command line (inputs.h).
#include "common/inputs.h"

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <system_error>

namespace kestrel {
namespace {

// Digits of `base` into value; false on any other character or on overflow.
bool Digits(const std::string& digits, unsigned base, uint64_t& value) {
    if (digits.empty()) return false;
    value = 0;
    for (const char c : digits) {
        unsigned digit = 0;
        if (c >= '0' && c <= '9') {
            digit = static_cast<unsigned>(c - '0');
        } else if (base == 16 && c >= 'a' && c <= 'f') {
            digit = static_cast<unsigned>(c - 'a' + 10);
        } else if (base == 16 && c >= 'A' && c <= 'F') {
            digit = static_cast<unsigned>(c - 'A' + 10);
        } else {
            return false;
        }
        if (value > (UINT64_MAX - digit) / base) return false;
        value = value * base + digit;
    }
    return true;
}

}  // namespace

bool ParseNumber(const std::string& text, uint64_t min, uint64_t max, uint64_t multiple,
                 uint64_t& value, std::string& error) {
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    uint64_t parsed = 0;
    const bool number = hex ? Digits(text.substr(2), 16, parsed) : Digits(text, 10, parsed);
    if (!number || parsed < min || parsed > max) {
        error = "'" + text + "' is not a number from " + std::to_string(min) + " to " +
                std::to_string(max) + (number ? "" : " (decimal, or hex with 0x)");
        return false;
    }
    if (multiple > 1 && parsed % multiple != 0) {
        error =
            "'" + text + "' is not a whole number of " + std::to_string(multiple) + "-byte sectors";
        return false;
    }
    value = parsed;
    return true;
}

bool ParseSeconds(const std::string& text, double max, double& value, std::string& error) {
    const size_t point = text.find('.');
    uint64_t whole = 0;
    uint64_t fraction = 0;
    const std::string wholeText = text.substr(0, point);
    const std::string fractionText = point == std::string::npos ? "" : text.substr(point + 1);
    const bool ok = Digits(wholeText.empty() ? "0" : wholeText, 10, whole) &&
                    (point == std::string::npos ||
                     (fractionText.size() <= 9 && Digits(fractionText, 10, fraction))) &&
                    !(wholeText.empty() && fractionText.empty());
    const double seconds = ok ? static_cast<double>(whole) +
                                    static_cast<double>(fraction) /
                                        std::pow(10.0, static_cast<double>(fractionText.size()))
                              : 0;
    if (!ok || seconds > max) {
        error = "'" + text + "' is not a number of seconds from 0 to " + std::to_string(int(max));
        return false;
    }
    value = seconds;
    return true;
}

std::string SharedFileProblem(const std::vector<NamedFile>& files) {
    namespace fs = std::filesystem;
    for (size_t a = 0; a < files.size(); ++a) {
        for (size_t b = a + 1; b < files.size(); ++b) {
            const std::string& x = files[a].path;
            const std::string& y = files[b].path;
            if (x.empty() || y.empty() || x == "-" || y == "-") continue;
            std::error_code codeX;
            std::error_code codeY;
            // Links first: a link to a file not there yet names that file, as an output written
            // through it would. Then from the root: a relative name of a file not there yet
            // stays relative, and would not meet the same file named otherwise ("./x", "/a/x").
            const fs::path realX = fs::weakly_canonical(fs::absolute(FollowLinks(x), codeX), codeX);
            const fs::path realY = fs::weakly_canonical(fs::absolute(FollowLinks(y), codeY), codeY);
            std::error_code code;
            const bool same = (!codeX && !codeY && realX == realY) || fs::equivalent(x, y, code);
            if (same) {
                return std::string(files[a].role) + " and " + files[b].role +
                       " name the same file (" + y + "); give each its own";
            }
        }
    }
    return {};
}

}  // namespace kestrel

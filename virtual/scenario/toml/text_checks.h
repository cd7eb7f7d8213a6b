// Checks a scenario text gets before the TOML parser sees it. toml++ 3.3 takes two things for
// granted that a malformed file can break; its debug builds stop on them with an assertion and its
// release builds treat them as unreachable (undefined behaviour):
// - that the name of a table header ("[device]", "[[fault]]") starts with a key character or a
//   quote ("[%" or "[[ 1" does not);
// - that the characters it scans for the end of a key or a value are ASCII. Reading a malformed
//   value ("0x" followed by a quote) it scans on into what follows, strings included, so no
//   position outside comments is safe for other characters.
// The reader refuses both first, naming the line: table names must start as TOML says, and
// characters beyond ASCII may stand only in comments on lines of their own (bytes beyond ASCII go
// in the hex keys). A byte-order mark at the start is allowed.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace vcable::scenario_file::toml_reader {

// The 1-based line of the first such problem, with what was expected there in `what`; 0 when
// there is none.
size_t UnsafeTextLine(std::string_view text, std::string& what);

}  // namespace vcable::scenario_file::toml_reader

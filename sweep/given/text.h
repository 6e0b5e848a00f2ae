// What a job wrote, made safe to show anywhere: a terminal, JSON, XML.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace sweep {

// BYTES as valid UTF-8 with no control characters: bytes that are not
// UTF-8, control characters (C0, DEL, C1, which carry terminal escapes)
// and code points XML cannot hold each become U+FFFD. Line feeds stay when
// KEEP_LINES, tabs become blanks; at most MAX bytes of BYTES are read.
std::string safe_text(std::string_view bytes, bool keep_lines,
                      std::size_t max = 4096);

// One line of at most MAX code points, made safe: a reason in a report.
std::string one_line(std::string_view bytes, std::size_t max = 200);

} // namespace sweep

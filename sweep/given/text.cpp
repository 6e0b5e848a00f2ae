#include "given/text.h"

#include <array>
#include <cstdint>

namespace sweep {

namespace {

constexpr std::string_view replacement = "\xEF\xBF\xBD"; // U+FFFD

// The length of the UTF-8 sequence that starts with LEAD, 0 if none does.
std::size_t sequence_length(unsigned char lead) {
  if (lead < 0x80) {
    return 1;
  }
  if (lead >= 0xC2 && lead <= 0xDF) {
    return 2;
  }
  if (lead >= 0xE0 && lead <= 0xEF) {
    return 3;
  }
  if (lead >= 0xF0 && lead <= 0xF4) {
    return 4;
  }
  return 0;
}

// The code point offset BYTES[AT] of LENGTH bytes, or -1 when it is not
// well-formed (overlong, a surrogate, beyond U+10FFFF, cut short).
std::int32_t decode(std::string_view bytes, std::size_t offset,
                    std::size_t length) {
  if (length == 0 || offset + length > bytes.size()) {
    return -1;
  }
  const auto lead = static_cast<unsigned char>(bytes[offset]);
  if (length == 1) {
    return lead;
  }
  std::int32_t point = lead & (0x7F >> length);
  for (std::size_t i = 1; i < length; ++i) {
    const auto next = static_cast<unsigned char>(bytes[offset + i]);
    if ((next & 0xC0) != 0x80) {
      return -1;
    }
    point = (point << 6) | (next & 0x3F);
  }
  // The least code point that needs LENGTH bytes: fewer is overlong.
  static constexpr std::array<std::int32_t, 5> least{0, 0, 0x80, 0x800,
                                                     0x10000};
  if (point < least.at(length) || point > 0x10FFFF ||
      (point >= 0xD800 && point <= 0xDFFF)) {
    return -1;
  }
  return point;
}

// Not control characters: a carriage return or an escape would let a job
// rewrite what the table shows on a terminal.
bool printable(std::int32_t point) {
  return point >= 0x20 && point != 0x7F && !(point >= 0x80 && point < 0xA0) &&
         point != 0xFFFE && point != 0xFFFF;
}

} // namespace

std::string safe_text(std::string_view bytes, bool keep_lines,
                      std::size_t max) {
  bytes = bytes.substr(0, max);
  std::string safe;
  safe.reserve(bytes.size());
  for (std::size_t offset = 0; offset < bytes.size();) {
    const std::size_t length =
        sequence_length(static_cast<unsigned char>(bytes[offset]));
    const std::int32_t point = decode(bytes, offset, length);
    if (point < 0) {
      safe += replacement;
      ++offset;
      continue;
    }
    if (point == '\n' && keep_lines) {
      safe += '\n';
    } else if (point == '\t' || point == '\n') {
      safe += ' ';
    } else if (printable(point)) {
      safe.append(bytes.substr(offset, length));
    } else {
      safe += replacement;
    }
    offset += length;
  }
  return safe;
}

std::string one_line(std::string_view bytes, std::size_t max) {
  std::string line =
      safe_text(bytes.substr(0, bytes.find('\n')), false, max * 4);
  // Cut offset MAX code points, never inside one.
  std::size_t points = 0;
  for (std::size_t offset = 0; offset < line.size(); ++offset) {
    if ((static_cast<unsigned char>(line[offset]) & 0xC0) != 0x80 &&
        ++points > max) {
      return line.substr(0, offset);
    }
  }
  return line;
}

} // namespace sweep

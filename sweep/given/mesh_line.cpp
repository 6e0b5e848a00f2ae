#include "given/mesh_line.h"

#include "given/hosts.h"
#include "given/probe_line.h"

#include <cmath>
#include <cstdlib>
#include <map>

namespace sweep {

namespace {

constexpr std::string_view head = "exchange-mesh ";

std::optional<std::size_t> whole(std::string_view text) {
  const auto value = printed_number(text, 0, 1e7);
  if (!value || *value != std::floor(*value) ||
      text.find_first_not_of("0123456789") != std::string_view::npos) {
    return std::nullopt;
  }
  return static_cast<std::size_t>(*value);
}

using Fields = std::map<std::string_view, std::string_view>;

// The line's words as key=value, each key once; nothing when one is not.
std::optional<Fields> fields_of(std::string_view line) {
  Fields fields;
  while (!line.empty()) {
    const auto blank = line.find(' ');
    const std::string_view word = line.substr(0, blank);
    line.remove_prefix(blank == std::string_view::npos ? line.size()
                                                       : blank + 1);
    const auto equals = word.find('=');
    if (equals == std::string_view::npos ||
        !fields.emplace(word.substr(0, equals), word.substr(equals + 1))
             .second) {
      return std::nullopt;
    }
  }
  return fields;
}

std::optional<std::string_view> field(const Fields &fields,
                                      std::string_view key) {
  const auto found = fields.find(key);
  if (found == fields.end()) {
    return std::nullopt;
  }
  return found->second;
}

// A pair's line: its round, partner and result, and a done pair's figures.
std::optional<MeshLine> pair_line(const Fields &fields, MeshLine parsed) {
  const auto round = field(fields, "round");
  const auto partner = field(fields, "partner");
  const auto result = field(fields, "result");
  if (!round || !partner || !result || !whole(*round) || !whole(*partner)) {
    return std::nullopt;
  }
  parsed.round = *whole(*round);
  parsed.partner = *whole(*partner);
  parsed.result = std::string(*result);
  if (parsed.result == "timed_out" || parsed.result == "failed") {
    return fields.size() == 4 ? std::optional<MeshLine>(parsed) : std::nullopt;
  }
  const auto value = field(fields, "value");
  const auto latency = field(fields, "latency_s");
  const auto bandwidth = field(fields, "bandwidth_bytes_per_s");
  if (parsed.result != "done" || fields.size() != 7 || !value || !latency ||
      !bandwidth) {
    return std::nullopt;
  }
  const auto got = printed_number(*value, -2147483648.0, 2147483647.0);
  const auto seconds = printed_number(*latency, -1, 3600);
  const auto bytes = printed_number(*bandwidth, -1, 1e15);
  if (!got || *got != std::floor(*got) || !seconds || !bytes) {
    return std::nullopt;
  }
  parsed.value = static_cast<int>(*got);
  parsed.latency_s = *seconds;
  parsed.bandwidth = *bytes;
  return parsed;
}

} // namespace

std::optional<MeshLine> parse_mesh_line(std::string_view line) {
  if (line.size() > longest_mesh_line || line.substr(0, head.size()) != head) {
    return std::nullopt;
  }
  line.remove_prefix(head.size());
  const auto fields = fields_of(line);
  if (!fields) {
    return std::nullopt;
  }
  MeshLine parsed;
  const auto rank = field(*fields, "rank");
  if (!rank || !whole(*rank)) {
    return std::nullopt;
  }
  parsed.rank = *whole(*rank);
  if (const auto host = field(*fields, "host"); host && fields->size() == 2) {
    parsed.kind = MeshLine::Kind::identity;
    parsed.host = std::string(*host);
    return host_name_problem(parsed.host).empty()
               ? std::optional<MeshLine>(parsed)
               : std::nullopt;
  }
  if (const auto end = field(*fields, "end"); end && fields->size() == 2) {
    parsed.kind = MeshLine::Kind::end;
    const auto rounds = whole(*end);
    if (!rounds) {
      return std::nullopt;
    }
    parsed.round = *rounds;
    return parsed;
  }
  return pair_line(*fields, parsed);
}

} // namespace sweep

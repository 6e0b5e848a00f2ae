#include "decide/mesh_tally.h"

#include "given/hosts.h"
#include "given/mesh_line.h"

#include <algorithm>
#include <limits>
#include <utility>

namespace sweep {

namespace {

constexpr std::uint32_t none = std::numeric_limits<std::uint32_t>::max();

std::uint8_t code_of(const std::string &result) {
  return result == "done" ? 1 : result == "timed_out" ? 2 : 3;
}

// A host as a launcher names it and as the rank finds itself: the same,
// whatever the case, or the same short name.
bool same_host(const std::string &named, const std::string &found) {
  const auto short_name = [](const std::string &name) {
    return host_key(name.substr(0, name.find('.')));
  };
  return host_key(named) == host_key(found) ||
         short_name(named) == short_name(found);
}

} // namespace

void unreported_undetermined(const std::vector<PairRecord> &records,
                             Findings &findings) {
  if (findings.global_fault) {
    return;
  }
  for (const auto &record : records) {
    if (final_verdict(record) != Verdict::not_run) {
      continue;
    }
    for (const auto *node : {&record.pair.first, &record.pair.second}) {
      if (std::find(findings.undetermined.begin(), findings.undetermined.end(),
                    *node) == findings.undetermined.end()) {
        findings.undetermined.push_back(*node);
      }
    }
  }
}

MeshTally::MeshTally(std::vector<std::string> nodes, bool all)
    : nodes_(std::move(nodes)), all_(all),
      rounds_(round_count(all, nodes_.size())), slot_(rounds_), said_(rounds_),
      hosts_(nodes_.size()), ended_(nodes_.size(), false),
      joined_(nodes_.size(), false) {
  for (std::size_t round = 0; round < rounds_; ++round) {
    slot_[round].assign(nodes_.size(), none);
    std::uint32_t pairs = 0;
    // In the order ring() and all_pairs() list a round's pairs: by the
    // first of each pair, as the schedule seats them.
    std::vector<std::size_t> firsts;
    for (std::size_t node = 0; node < nodes_.size(); ++node) {
      const auto seat = seat_in_round(all, nodes_.size(), node, round);
      if (seat && seat->first) {
        firsts.push_back(node);
      }
    }
    if (all) {
      // all_pairs() lists a round seat by seat, from the fixed one.
      const std::size_t seats = nodes_.size() + nodes_.size() % 2;
      const std::size_t turn = round % (seats - 1);
      const auto seat_of = [&](std::size_t node) {
        return node == 0 ? 0 : 1 + (node - 1 + turn) % (seats - 1);
      };
      std::sort(firsts.begin(), firsts.end(),
                [&](std::size_t one, std::size_t other) {
                  return seat_of(one) < seat_of(other);
                });
    }
    for (const std::size_t first : firsts) {
      const auto seat = seat_in_round(all, nodes_.size(), first, round);
      slot_[round][first] = pairs;
      slot_[round][seat->partner] = pairs;
      ++pairs;
    }
    said_[round].resize(pairs);
  }
}

void MeshTally::bytes(std::string_view chunk) {
  while (!chunk.empty()) {
    const auto end = chunk.find('\n');
    const std::string_view piece = chunk.substr(0, end);
    if (!skipping_) {
      partial_.append(piece);
      if (partial_.size() > longest_mesh_line) {
        ++unreadable_;
        partial_.clear();
        skipping_ = true;
      }
    }
    if (end == std::string_view::npos) {
      return;
    }
    if (!skipping_) {
      line(partial_);
    }
    partial_.clear();
    skipping_ = false;
    chunk.remove_prefix(end + 1);
  }
}

void MeshTally::line(std::string_view text) {
  const auto parsed = parse_mesh_line(text);
  if (!parsed || parsed->rank >= nodes_.size()) {
    // What else a launcher says (its warnings) is no line of the mesh's.
    unreadable_ += text.rfind("exchange-mesh ", 0) == 0 ? 1 : 0;
    return;
  }
  joined_[parsed->rank] = true;
  if (parsed->kind == MeshLine::Kind::identity) {
    identified_ += hosts_[parsed->rank].empty() ? 1 : 0;
    hosts_[parsed->rank] = parsed->host;
    return;
  }
  if (parsed->kind == MeshLine::Kind::end) {
    finished_ += ended_[parsed->rank] ? 0 : 1;
    ended_[parsed->rank] = true;
    return;
  }
  if (parsed->round >= rounds_ || slot_[parsed->round][parsed->rank] == none) {
    ++unreadable_;
    return;
  }
  const auto seat =
      seat_in_round(all_, nodes_.size(), parsed->rank, parsed->round);
  if (!seat || seat->partner != parsed->partner) {
    ++unreadable_;
    return;
  }
  Said &said = said_[parsed->round][slot_[parsed->round][parsed->rank]];
  std::uint8_t &code = seat->first ? said.first : said.second;
  if (code != 0) {
    ++unreadable_; // said twice
    return;
  }
  code = code_of(parsed->result);
  if (parsed->result == "done" && parsed->value != 777) {
    code = 3;
  }
  if (code == 1) {
    (seat->first ? said.first_bandwidth : said.second_bandwidth) =
        static_cast<float>(parsed->bandwidth);
    if (seat->first) {
      said.latency_s = static_cast<float>(parsed->latency_s);
    }
  }
  ++reported_;
}

std::string MeshTally::problem() const {
  for (std::size_t rank = 0; rank < nodes_.size(); ++rank) {
    if (!hosts_[rank].empty() && !same_host(nodes_[rank], hosts_[rank])) {
      return "rank " + std::to_string(rank) + " ran on " + hosts_[rank] +
             ", not on " + nodes_[rank] +
             ": the launcher did not place the ranks in the sweep's order";
    }
  }
  return "";
}

// The try of a pair of which its ranks said SAID, one at least.
Attempt MeshTally::attempt_of(const Said &said) {
  Attempt attempt;
  attempt.engine = Engine::mesh;
  if (said.first == 1 && said.second == 1) {
    attempt.verdict = Verdict::passed;
    if (said.latency_s >= 0 && said.first_bandwidth >= 0 &&
        said.second_bandwidth >= 0) {
      attempt.figures =
          Figures{said.latency_s,
                  std::min(said.first_bandwidth, said.second_bandwidth)};
    }
  } else if (said.first == 3 || said.second == 3) {
    attempt.reason = "failed in the mesh: an MPI error, or not 777";
  } else if (said.first == 2 || said.second == 2) {
    attempt.reason =
        "timed out in the mesh: no answer from the partner by its bound";
  } else {
    attempt.reason = "in the mesh, only one of its ranks reported";
  }
  return attempt;
}

std::vector<bool> MeshTally::both_joined(std::size_t round) const {
  std::vector<bool> joined(said_[round].size(), true);
  for (std::size_t rank = 0; rank < nodes_.size(); ++rank) {
    const std::uint32_t pair = slot_[round][rank];
    if (pair != none && !joined_[rank]) {
      joined[pair] = false;
    }
  }
  return joined;
}

std::vector<std::vector<std::optional<Attempt>>> MeshTally::attempts() const {
  std::vector<std::vector<std::optional<Attempt>>> tries(rounds_);
  if (!problem().empty()) {
    for (std::size_t round = 0; round < rounds_; ++round) {
      tries[round].resize(said_[round].size());
    }
    return tries;
  }
  for (std::size_t round = 0; round < rounds_; ++round) {
    const auto joined = both_joined(round);
    for (std::size_t pair = 0; pair < said_[round].size(); ++pair) {
      const Said &said = said_[round][pair];
      std::optional<Attempt> attempt;
      if (joined[pair] && (said.first != 0 || said.second != 0)) {
        attempt = attempt_of(said);
      }
      tries[round].push_back(attempt);
    }
  }
  return tries;
}

} // namespace sweep

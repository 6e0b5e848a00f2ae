// The table on standard output: a row for each pair, then what was found.
#include "tell/report.h"

#include <algorithm>
#include <csignal>
#include <cstring>
#include <iomanip>

namespace sweep {

namespace {

void write_rows(std::ostream &out, const std::vector<const PairRecord *> &rows,
                std::size_t width) {
  const std::ios::fmtflags flags = out.flags();
  for (const PairRecord *record : rows) {
    const Attempt *attempt = last_run(*record);
    out << std::left << std::setw(static_cast<int>(width))
        << pair_name(record->pair) << "  " << std::setw(19)
        << verdict_name(final_verdict(*record)) << std::right << std::setw(5)
        << record->attempts.size() << std::fixed << std::setprecision(1)
        << std::setw(9) << (attempt != nullptr ? attempt->seconds : 0.0) << "  "
        << pair_reason(*record) << "\n";
  }
  out.flags(flags);
}

template <typename List, typename Name>
void write_list(std::ostream &out, const char *what, const List &list,
                Name name) {
  out << what << ":";
  for (const auto &item : list) {
    out << " " << name(item);
  }
  out << (list.empty() ? " none\n" : "\n");
}

void write_drain(std::ostream &out, const DrainReport &drain) {
  if (drain.mode == DrainMode::off) {
    return;
  }
  const bool dry = drain.mode == DrainMode::dry_run;
  for (const auto &node : drain.drained) {
    out << (dry ? "would drain " : "drained ") << node.node << ": "
        << node.reason << "\n";
  }
  for (const auto &node : drain.left_alone) {
    out << "left alone " << node.node << " (" << node.reason << ")\n";
  }
  if (!drain.none_because.empty()) {
    out << (dry ? "would drain" : "drained") << " none: " << drain.none_because
        << "\n";
  } else if (drain.drained.empty()) {
    out << (dry ? "would drain" : "drained") << " none: no suspect node\n";
  }
}

} // namespace

void write_table(std::ostream &out, const Report &report) {
  std::size_t width = 4;
  std::vector<const PairRecord *> pattern;
  std::vector<const PairRecord *> confirmations;
  for (const auto &record : report.records) {
    width = std::max(width, pair_name(record.pair).size());
    if (record.confirmation) {
      confirmations.push_back(&record);
    } else {
      pattern.push_back(&record);
    }
  }
  out << std::left << std::setw(static_cast<int>(width)) << "PAIR"
      << "  " << std::setw(19) << "RESULT" << std::right << std::setw(5)
      << "TRIES" << std::setw(9) << "SECONDS"
      << "  REASON\n"
      << std::left;
  write_rows(out, pattern, width);
  if (!confirmations.empty()) {
    out << "confirmation pairs, each a failing node with a known-good "
           "partner:\n";
    write_rows(out, confirmations, width);
  }
  out << "\n" << summary_line(report) << "\n";
  if (!report.complete) {
    out << "incomplete: interrupted"
        << (report.signal != 0
                ? std::string(" by SIG") + sigabbrev_np(report.signal)
                : std::string())
        << "; pairs cut short or never run are not-run, nothing was "
           "confirmed, and so nothing is named\n";
  }
  const std::string note = topology_note(report);
  if (!note.empty()) {
    out << note << "\n";
  }
  const Findings &found = report.findings;
  const auto same = [](const std::string &node) { return node; };
  if (found.global_fault) {
    out << "global fault: " << *found.global_fault << "\n"
        << "no node or link is named\n";
  } else {
    write_list(out, "suspect nodes", found.suspect_nodes, same);
    write_list(out, "suspect links", found.suspect_links, pair_name);
    write_list(out, "undetermined", found.undetermined, same);
  }
  write_drain(out, report.drain);
  for (const auto &step : report.stuck_steps) {
    out << "step that would not go: " << step << "\n";
  }
  if (!report.topology.empty() && !found.global_fault) {
    write_list(out, "suspect uplinks", found.suspect_uplinks, same);
    write_list(out, "suspect switches", found.suspect_switches, same);
  }
}

} // namespace sweep

// The table on standard output: a row for each pair, then what was found.
// Past a few hundred pairs only those that did not simply pass have a row,
// so that all pairs of a thousand nodes stay readable; the JSON has every
// pair.
#include "tell/report.h"

#include <algorithm>
#include <csignal>
#include <cstring>
#include <iomanip>

namespace sweep {

namespace {

// Rows at most before the table lists only what did not pass.
constexpr std::size_t most_rows = 200;

void write_rows(std::ostream &out, const std::vector<const PairRecord *> &rows,
                std::size_t width, bool measured) {
  const std::ios::fmtflags flags = out.flags();
  for (const PairRecord *record : rows) {
    const Attempt *attempt = last_run(*record);
    out << std::left << std::setw(static_cast<int>(width))
        << pair_name(record->pair) << "  " << std::setw(19)
        << verdict_name(final_verdict(*record)) << std::right << std::setw(5)
        << record->attempts.size() << std::fixed << std::setprecision(1)
        << std::setw(9) << (attempt != nullptr ? attempt->seconds : 0.0);
    if (measured) {
      const Figures *figures = last_figures(*record);
      out << std::setw(12)
          << (figures != nullptr ? latency_text(figures->latency_s) : "-")
          << std::setw(15)
          << (figures != nullptr ? bandwidth_text(figures->bandwidth) : "-");
    }
    out << "  " << pair_reason(*record) << "\n";
  }
  out.flags(flags);
}

// ROWS, or past the most only those that did not pass; how many went.
std::size_t shown(std::vector<const PairRecord *> &rows, std::size_t total) {
  if (total <= most_rows) {
    return 0;
  }
  const auto kept = std::remove_if(rows.begin(), rows.end(), [](auto *record) {
    return final_verdict(*record) == Verdict::passed;
  });
  const auto left = static_cast<std::size_t>(rows.end() - kept);
  rows.erase(kept, rows.end());
  return left;
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

void write_head(std::ostream &out, std::size_t width, bool measured) {
  out << std::left << std::setw(static_cast<int>(width)) << "PAIR"
      << "  " << std::setw(19) << "RESULT" << std::right << std::setw(5)
      << "TRIES" << std::setw(9) << "SECONDS";
  if (measured) {
    out << std::setw(12) << "LATENCY" << std::setw(15) << "BANDWIDTH";
  }
  out << "  REASON\n" << std::left;
}

// The lines under the summary that say how the sweep went: its fabric,
// its engine, an interruption, its topology.
void write_how(std::ostream &out, const Report &report) {
  for (const std::string &line : {fabric_line(report), engine_line(report)}) {
    if (!line.empty()) {
      out << line << "\n";
    }
  }
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
  write_head(out, width, report.measured);
  const std::size_t total = report.records.size();
  const std::size_t hidden =
      shown(pattern, total) + shown(confirmations, total);
  write_rows(out, pattern, width, report.measured);
  if (!confirmations.empty()) {
    out << "confirmation pairs, each a failing node with a known-good "
           "partner:\n";
    write_rows(out, confirmations, width, report.measured);
  }
  if (hidden > 0) {
    out << hidden
        << " more pairs passed, not listed (the JSON has every "
           "pair)\n";
  }
  out << "\n" << summary_line(report) << "\n";
  write_how(out, report);
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
  if (report.measured && !found.global_fault) {
    if (found.slow_everywhere) {
      out << "slow everywhere: " << *found.slow_everywhere << "\n";
    } else {
      write_list(out, "slow nodes", found.slow_nodes, same);
      write_list(out, "slow links", found.slow_links, pair_name);
      if (!report.topology.empty()) {
        write_list(out, "slow uplinks", found.slow_uplinks, same);
      }
    }
  }
}

} // namespace sweep

#include "tell/report.h"

#include <algorithm>
#include <cstdio>
#include <iterator>

namespace sweep {

Counts count(const std::vector<PairRecord> &records) {
  Counts counts;
  for (const auto &record : records) {
    switch (final_verdict(record)) {
    case Verdict::passed:
      ++counts.passed;
      break;
    case Verdict::failed:
      ++counts.failed;
      break;
    case Verdict::flaky:
      ++counts.flaky;
      break;
    case Verdict::exchanged_then_hung:
      ++counts.hung;
      break;
    case Verdict::not_run:
      ++counts.not_run;
      break;
    case Verdict::slow:
      ++counts.slow;
      break;
    }
  }
  return counts;
}

std::string pair_name(const Pair &pair) {
  return pair.first + "-" + pair.second;
}

const Attempt *last_run(const PairRecord &record) {
  const auto ran =
      std::find_if(record.attempts.rbegin(), record.attempts.rend(),
                   [](const Attempt &attempt) {
                     return attempt.verdict != Verdict::not_run;
                   });
  if (ran != record.attempts.rend()) {
    return &*ran;
  }
  return record.attempts.empty() ? nullptr : &record.attempts.back();
}

std::string pair_reason(const PairRecord &record) {
  const Verdict verdict = final_verdict(record);
  if (verdict == Verdict::not_run) {
    return record.attempts.empty() ? "never run: the sweep was interrupted"
                                   : record.attempts.back().reason;
  }
  const Attempt *failure = nullptr;
  const Attempt *slow = nullptr;
  std::size_t passed_on = 0;
  std::size_t slow_on = 0;
  for (std::size_t i = 0; i < record.attempts.size(); ++i) {
    const Verdict tried = record.attempts[i].verdict;
    if (tried == Verdict::passed && passed_on == 0) {
      passed_on = i + 1;
    } else if (tried == Verdict::failed ||
               tried == Verdict::exchanged_then_hung) {
      failure = &record.attempts[i];
    } else if (tried == Verdict::slow) {
      slow = &record.attempts[i];
      slow_on = slow_on == 0 ? i + 1 : slow_on;
    }
  }
  if (verdict == Verdict::slow && slow != nullptr) {
    return slow->reason;
  }
  if (failure == nullptr) {
    return slow != nullptr && passed_on > 0
               ? "fast on try " + std::to_string(passed_on) + " of " +
                     std::to_string(record.attempts.size()) + "; " +
                     slow->reason
               : "";
  }
  if (verdict == Verdict::flaky) {
    const bool passed = passed_on > 0;
    return std::string(passed ? "passed" : "slow") + " on try " +
           std::to_string(passed ? passed_on : slow_on) + " of " +
           std::to_string(record.attempts.size()) + "; " + failure->reason;
  }
  return failure->reason;
}

std::string summary_line(const Report &report) {
  const Counts counts = count(report.records);
  return std::to_string(report.records.size()) +
         " pairs: " + std::to_string(counts.passed) + " passed, " +
         std::to_string(counts.failed) + " failed, " +
         std::to_string(counts.flaky) + " flaky, " +
         std::to_string(counts.hung) + " exchanged-then-hung, " +
         std::to_string(counts.not_run) + " not-run" +
         (report.measured ? ", " + std::to_string(counts.slow) + " slow" : "");
}

std::string engine_line(const Report &report) {
  if (report.engine == "pairs") {
    return "";
  }
  std::string line = "engine: " + report.engine +
                     (report.engine == "auto"
                          ? ", every pair in one job, then a job a pair for "
                            "what it did not pass"
                          : ", every pair in one job alone");
  if (report.mesh) {
    char seconds[32];
    (void)std::snprintf(seconds, sizeof seconds, "%.1f", report.mesh->seconds);
    line += ": " + std::to_string(report.mesh->reported) +
            " lines of pairs in " + seconds + " s, " +
            std::to_string(report.mesh->unreadable) + " unreadable";
    if (!report.mesh->problem.empty()) {
      line += "; not trusted: " + report.mesh->problem;
    }
  }
  return line;
}

std::string latency_text(double seconds) {
  char text[32];
  (void)std::snprintf(text, sizeof text, "%.1f us", seconds * 1e6);
  return text;
}

std::string bandwidth_text(double bytes_per_second) {
  char text[32];
  (void)std::snprintf(text, sizeof text, "%.1f MB/s", bytes_per_second / 1e6);
  return text;
}

std::string fabric_line(const Report &report) {
  std::string line;
  for (const auto &[pair_class, medians] : report.fabric) {
    const bool tree = !report.topology.empty();
    line += line.empty() ? "fabric" : ";";
    line +=
        tree ? (pair_class == 0 ? " inside switches" : " across switches") : "";
    line += ": " + std::to_string(medians.pairs) + " pairs, median latency " +
            latency_text(medians.latency_s) + ", bandwidth " +
            bandwidth_text(medians.bandwidth);
  }
  return line;
}

std::string topology_note(const Report &report) {
  if (report.topology_problem.empty()) {
    return "";
  }
  return "the switch tree " +
         std::string(report.topology_source == "slurm" ? "from Slurm " : "") +
         "could not be read (" + report.topology_problem +
         "): swept in host order, with no switch or uplink named";
}

std::string findings_line(const Report &report) {
  const Findings &found = report.findings;
  if (found.global_fault) {
    return "global fault: " + *found.global_fault;
  }
  std::string line;
  const auto list = [&](const char *what,
                        const std::vector<std::string> &items) {
    if (!items.empty()) {
      line += std::string(line.empty() ? "" : "; ") + what + ":";
      for (const auto &item : items) {
        line += " " + item;
      }
    }
  };
  std::vector<std::string> links;
  std::transform(found.suspect_links.begin(), found.suspect_links.end(),
                 std::back_inserter(links), pair_name);
  list("suspect switches", found.suspect_switches);
  list("suspect uplinks", found.suspect_uplinks);
  list("suspect nodes", found.suspect_nodes);
  list("suspect links", links);
  list("undetermined", found.undetermined);
  std::vector<std::string> slow_links;
  std::transform(found.slow_links.begin(), found.slow_links.end(),
                 std::back_inserter(slow_links), pair_name);
  list("slow uplinks", found.slow_uplinks);
  list("slow nodes", found.slow_nodes);
  list("slow links", slow_links);
  if (found.slow_everywhere) {
    line += std::string(line.empty() ? "" : "; ") +
            "slow everywhere: " + *found.slow_everywhere;
  }
  return line.empty() ? "nothing is suspect" : line;
}

bool all_clear(const Report &report) {
  const Findings &found = report.findings;
  return report.complete && !found.global_fault &&
         found.suspect_nodes.empty() && found.suspect_links.empty() &&
         found.undetermined.empty() && found.suspect_uplinks.empty() &&
         found.suspect_switches.empty() && found.slow_nodes.empty() &&
         found.slow_links.empty() && found.slow_uplinks.empty() &&
         !found.slow_everywhere;
}

} // namespace sweep

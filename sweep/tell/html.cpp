// The sweep as a picture: one self-contained page with the node-by-node
// matrix, a cell a pair, coloured by its verdict, the nodes in the tree's
// order with their switches marked. A dead node shows as a cross, a dead
// switch as a block. Past a bound, a cell stands for a block of pairs, so
// that the page stays small and quick to open at thousands of nodes.
#include "tell/heat.h"
#include "tell/report.h"

#include <pugixml.hpp>

#include <algorithm>
#include <array>
#include <iterator>
#include <map>
#include <sstream>

namespace sweep {

namespace {

// Cells drawn at most a side; beyond it a cell stands for a block.
constexpr std::size_t most_a_side = 150;

constexpr const char *style = R"(
body { font: 13px sans-serif; margin: 1em; color: #222; }
h1 { font-size: 1.3em; margin: 0 0 .3em; }
.summary { margin: .2em 0; }
.found { margin: .2em 0 .8em; font-weight: bold; }
.legend span { display: inline-block; width: 12px; height: 12px;
  vertical-align: middle; margin: 0 .3em 0 1em; border: 1px solid #999; }
.matrix { display: grid; gap: 1px; align-items: stretch; }
.cell { min-width: 8px; min-height: 8px; }
.passed { background: #3a3; } .failed { background: #d22; }
.flaky { background: #fb3; } .exchanged-then-hung { background: #a6f; }
.not-run { background: #bbb; } .slow { background: #f70; }
.measured.slow, .measured.flaky, .measured.exchanged-then-hung {
  outline: 2px solid #222; outline-offset: -2px; }
.heat span { display: inline-block; width: 12px; height: 12px;
  vertical-align: middle; margin: 0 .3em 0 1em; }
.node { font-size: 10px; white-space: nowrap; padding: 0 .3em;
  overflow: hidden; }
.column { writing-mode: vertical-rl; transform: rotate(180deg);
  align-self: end; }
.suspect { color: #d22; font-weight: bold; }
.switch { font-size: 10px; background: #e8eef8; border: 1px solid #9ab;
  text-align: center; overflow: hidden; }
.switch.suspect { background: #fdd; border-color: #d22; }
.row { writing-mode: vertical-rl; transform: rotate(180deg); }
)";

constexpr std::array<Verdict, 6> worst_first = {
    Verdict::failed,  Verdict::exchanged_then_hung,
    Verdict::slow,    Verdict::flaky,
    Verdict::not_run, Verdict::passed};

int severity(Verdict verdict) {
  return static_cast<int>(
      std::find(worst_first.begin(), worst_first.end(), verdict) -
      worst_first.begin());
}

pugi::xml_node element(pugi::xml_node parent, const char *name,
                       const std::string &css_class = "") {
  auto child = parent.append_child(name);
  if (!css_class.empty()) {
    child.append_attribute("class") = css_class.c_str();
  }
  return child;
}

pugi::xml_node place(pugi::xml_node item, std::size_t row, std::size_t column,
                     std::size_t rows = 1, std::size_t columns = 1) {
  const std::string where = "grid-row: " + std::to_string(row) + " / span " +
                            std::to_string(rows) +
                            "; grid-column: " + std::to_string(column) +
                            " / span " + std::to_string(columns);
  item.append_attribute("style") = where.c_str();
  return item;
}

std::string seconds_text(double seconds) {
  std::ostringstream text;
  text.setf(std::ios::fixed);
  text.precision(1);
  text << seconds;
  return text.str();
}

// A block of the matrix: the pairs between two runs of nodes, and the
// lowest bandwidth among them (negative when none was measured).
struct Block {
  Verdict worst = Verdict::passed;
  std::map<Verdict, std::size_t> counts;
  const PairRecord *only = nullptr;
  std::size_t pairs = 0;
  double bandwidth = -1;
};

// The bandwidth that is green on the page: the best class's median.
double reference_bandwidth(const Report &report) {
  double best = 0;
  for (const auto &[pair_class, medians] : report.fabric) {
    best = std::max(best, medians.bandwidth);
  }
  return best;
}

// The matrix: SPAN nodes a cell, SIDE cells a side, in the report's order.
class Matrix {
public:
  explicit Matrix(const Report &report)
      : report_(report), order_(report.node_order),
        span_(order_.size() <= most_a_side
                  ? 1
                  : (order_.size() + most_a_side - 1) / most_a_side),
        side_((order_.size() + span_ - 1) / span_) {
    for (std::size_t i = 0; i < order_.size(); ++i) {
      place_of_[order_[i]] = i / span_;
    }
    for (const auto &record : report.records) {
      add(record);
    }
  }

  [[nodiscard]] std::size_t span() const { return span_; }

  void draw(pugi::xml_node body) const {
    // Row 1 and column 1 mark the switches, row 2 and column 2 the nodes.
    auto matrix = element(body, "div", "matrix");
    const std::string sizes =
        "1.4em 5em repeat(" + std::to_string(side_) + ", 12px)";
    matrix.append_attribute("style") =
        ("grid-template-columns: " + sizes + "; grid-template-rows: " + sizes)
            .c_str();
    draw_nodes(matrix);
    draw_switches(matrix);
    for (const auto &[where, block] : blocks_) {
      draw_cell(matrix, where, block);
    }
  }

private:
  void add(const PairRecord &record) {
    const auto one = place_of_.find(record.pair.first);
    const auto other = place_of_.find(record.pair.second);
    if (one == place_of_.end() || other == place_of_.end()) {
      return;
    }
    const Verdict verdict = final_verdict(record);
    for (const auto &where : {std::make_pair(one->second, other->second),
                              std::make_pair(other->second, one->second)}) {
      Block &block = blocks_[where];
      if (block.pairs == 0 || severity(verdict) < severity(block.worst)) {
        block.worst = verdict;
      }
      ++block.counts[verdict];
      ++block.pairs;
      const Figures *figures = last_figures(record);
      if (figures != nullptr &&
          (block.bandwidth < 0 || figures->bandwidth < block.bandwidth)) {
        block.bandwidth = figures->bandwidth;
      }
      block.only = &record;
    }
  }

  [[nodiscard]] bool suspect(const std::string &node) const {
    const auto &nodes = report_.findings.suspect_nodes;
    return span_ == 1 &&
           std::find(nodes.begin(), nodes.end(), node) != nodes.end();
  }

  void draw_nodes(pugi::xml_node matrix) const {
    for (std::size_t index = 0; index < side_; ++index) {
      const std::string &first = order_[index * span_];
      const std::string &last =
          order_[std::min(order_.size(), (index + 1) * span_) - 1];
      std::string label = first;
      if (span_ > 1) {
        label += " .. ";
        label += last;
      }
      const std::string css = suspect(first) ? "node suspect" : "node";
      place(element(matrix, "div", css + " column"), 2, index + 3).text() =
          label.c_str();
      place(element(matrix, "div", css), index + 3, 2).text() = label.c_str();
    }
  }

  // Each switch's run of nodes, by the first node of each cell.
  void draw_switches(pugi::xml_node matrix) const {
    const auto &found = report_.findings;
    for (std::size_t index = 0; index < side_;) {
      const auto name = report_.topology.switch_of(order_[index * span_]);
      std::size_t end = index + 1;
      while (end < side_ &&
             report_.topology.switch_of(order_[end * span_]) == name) {
        ++end;
      }
      if (name) {
        const bool marked = std::count(found.suspect_switches.begin(),
                                       found.suspect_switches.end(), *name) +
                                std::count(found.suspect_uplinks.begin(),
                                           found.suspect_uplinks.end(), *name) >
                            0;
        const std::string css = marked ? "switch suspect" : "switch";
        place(element(matrix, "div", css), 1, index + 3, 1, end - index)
            .text() = name->c_str();
        place(element(matrix, "div", css + " row"), index + 3, 1, end - index,
              1)
            .text() = name->c_str();
      }
      index = end;
    }
  }

  void draw_cell(pugi::xml_node matrix,
                 const std::pair<std::size_t, std::size_t> &where,
                 const Block &block) const {
    const bool heat = report_.measured && block.bandwidth >= 0;
    auto cell = place(element(matrix, "div",
                              std::string(heat ? "cell measured " : "cell ") +
                                  verdict_name(block.worst)),
                      where.first + 3, where.second + 3);
    if (heat) {
      // Coloured by bandwidth; the verdict stays a mark, and its class.
      cell.attribute("style") =
          (std::string(cell.attribute("style").value()) +
           "; background: " + scale_.colour(block.bandwidth))
              .c_str();
    }
    std::string hover;
    if (span_ == 1) {
      const PairRecord &record = *block.only;
      const Attempt *last = last_run(record);
      hover = pair_name(record.pair);
      hover += ": ";
      hover += verdict_name(block.worst);
      hover += ", " + std::to_string(record.attempts.size()) + " tries, ";
      hover += seconds_text(last != nullptr ? last->seconds : 0);
      hover += " s";
      const Figures *figures = last_figures(record);
      if (figures != nullptr) {
        hover += ", latency " + latency_text(figures->latency_s) +
                 ", bandwidth " + bandwidth_text(figures->bandwidth);
      }
      const std::string reason = pair_reason(record);
      if (!reason.empty()) {
        hover += ": ";
        hover += reason;
      }
      cell.append_attribute("data-pair") = pair_name(record.pair).c_str();
    } else {
      hover = std::to_string(block.pairs) + " pairs:";
      for (const auto &[verdict, number] : block.counts) {
        hover += " " + std::to_string(number);
        hover += " ";
        hover += verdict_name(verdict);
      }
      if (heat) {
        hover += "; lowest bandwidth " + bandwidth_text(block.bandwidth);
      }
    }
    cell.append_attribute("data-verdict") = verdict_name(block.worst);
    cell.append_attribute("title") = hover.c_str();
  }

  const Report &report_;
  HeatScale scale_{reference_bandwidth(report_)};
  const std::vector<std::string> &order_;
  std::size_t span_;
  std::size_t side_;
  std::map<std::string, std::size_t> place_of_;
  std::map<std::pair<std::size_t, std::size_t>, Block> blocks_;
};

void write_head(pugi::xml_node html, const std::string &title) {
  auto head = element(html, "head");
  element(head, "meta").append_attribute("charset") = "utf-8";
  element(head, "title").text() = title.c_str();
  element(head, "style").text() = style;
}

} // namespace

std::string to_html(const Report &report) {
  const Matrix matrix(report);
  pugi::xml_document document;
  document.append_child(pugi::node_doctype).set_value("html");
  auto html = document.append_child("html");
  html.append_attribute("lang") = "en";
  const std::string title = "exchange-sweep: " + report.pattern + " over " +
                            std::to_string(report.node_order.size()) + " nodes";
  write_head(html, title);
  auto body = element(html, "body");
  element(body, "h1").text() = title.c_str();
  element(body, "p", "summary").text() =
      (summary_line(report) + (report.complete ? "" : "; interrupted")).c_str();
  element(body, "p", "found").text() = findings_line(report).c_str();
  const std::string note = topology_note(report);
  if (!note.empty()) {
    element(body, "p", "summary").text() = note.c_str();
  }
  auto legend = element(body, "p", "legend");
  for (const Verdict verdict : worst_first) {
    element(legend, "span", verdict_name(verdict));
    legend.append_child(pugi::node_pcdata).set_value(verdict_name(verdict));
  }
  if (report.measured) {
    auto heat = element(body, "p", "heat");
    heat.append_child(pugi::node_pcdata)
        .set_value("bandwidth (a measured cell's colour; slow, flaky and "
                   "hung pairs outlined):");
    for (const auto &[colour, text] :
         HeatScale(reference_bandwidth(report)).legend()) {
      element(heat, "span").append_attribute("style") =
          ("background: " + colour).c_str();
      heat.append_child(pugi::node_pcdata).set_value(text.c_str());
    }
    const std::string fabric = fabric_line(report);
    if (!fabric.empty()) {
      element(body, "p", "summary").text() = fabric.c_str();
    }
  }
  if (matrix.span() > 1) {
    const std::string span = std::to_string(matrix.span());
    element(body, "p").text() =
        ("A cell stands for up to " + span + " x " + span +
         " pairs, coloured by the worst of them.")
            .c_str();
  }
  matrix.draw(body);
  std::ostringstream out;
  document.save(out, "",
                pugi::format_raw | pugi::format_no_declaration |
                    pugi::format_no_empty_element_tags);
  return out.str() + "\n";
}

} // namespace sweep

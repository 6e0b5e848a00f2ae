// The fabric's switch tree, as Slurm's topology/tree describes it: which
// switch each node hangs from, and which switch each switch hangs from.
#pragma once

#include <cstddef>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace sweep {

// Why a topology or a host list cannot be read; its line is in the text.
struct TopologyError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// A Slurm host list, "node[1-4,07-09],login1", as its names, in order; at
// most LIMIT of them. Throws TopologyError on what is not one.
std::vector<std::string> expand_hostlist(const std::string &list,
                                         std::size_t limit = 100000);

class Topology {
public:
  // topology.conf's lines, "SwitchName=S Nodes=LIST" or "SwitchName=S
  // Switches=LIST", # comments; or scontrol show topology's, which add
  // Level= and LinkSpeed=. Throws TopologyError.
  static Topology parse(const std::string &text);

  [[nodiscard]] bool empty() const { return switches_.empty(); }
  // The switch NODE hangs from, or none.
  [[nodiscard]] std::optional<std::string>
  switch_of(const std::string &node) const;
  // The switches above NODE, its own first, up to the top; none when the
  // tree does not name it.
  [[nodiscard]] std::vector<std::string> path_of(const std::string &node) const;
  // The switches above SWITCH, its parent first.
  [[nodiscard]] std::vector<std::string>
  above(const std::string &switch_name) const;
  // Every switch, in the tree's order: each before those below it.
  [[nodiscard]] std::vector<std::string> switches() const;
  [[nodiscard]] bool has_uplink(const std::string &switch_name) const;
  // NODES in the tree's order, switch by switch as a walk from the top
  // meets them; nodes it does not name come last, in their order.
  [[nodiscard]] std::vector<std::string>
  in_order(const std::vector<std::string> &nodes) const;

private:
  struct Switch {
    std::vector<std::string> nodes;
    std::vector<std::string> children;
    std::string parent;
  };
  void add_line(const std::string &line);
  void link();
  std::map<std::string, Switch> switches_;
  std::vector<std::string> order_; // as the text names them
  std::map<std::string, std::string> leaf_of_;
};

} // namespace sweep

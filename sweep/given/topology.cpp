#include "given/topology.h"

#include "given/hosts.h"

#include <algorithm>
#include <iterator>
#include <set>
#include <sstream>

namespace sweep {

namespace {

// The parts of LIST split at commas that are not inside brackets.
std::vector<std::string> top_level_parts(const std::string &list) {
  std::vector<std::string> parts(1);
  int depth = 0;
  for (const char character : list) {
    depth += character == '[' ? 1 : character == ']' ? -1 : 0;
    if (depth < 0 || depth > 1) {
      throw TopologyError("unbalanced brackets in '" + list + "'");
    }
    if (character == ',' && depth == 0) {
      parts.emplace_back();
    } else {
      parts.back() += character;
    }
  }
  if (depth != 0) {
    throw TopologyError("unbalanced brackets in '" + list + "'");
  }
  return parts;
}

bool digits(const std::string &text) {
  return !text.empty() && text.size() <= 9 &&
         text.find_first_not_of("0123456789") == std::string::npos;
}

// PREFIX[RANGES]SUFFIX into NAMES.
void expand_part(const std::string &part, std::vector<std::string> &names,
                 std::size_t limit) {
  const auto open = part.find('[');
  if (open == std::string::npos) {
    if (!part.empty()) {
      names.push_back(part);
    }
    return;
  }
  const auto close = part.find(']', open);
  const std::string prefix = part.substr(0, open);
  const std::string suffix = part.substr(close + 1);
  if (suffix.find('[') != std::string::npos) {
    throw TopologyError("one bracket a name only: '" + part + "'");
  }
  std::istringstream ranges(part.substr(open + 1, close - open - 1));
  for (std::string range; std::getline(ranges, range, ',');) {
    const auto dash = range.find('-');
    const std::string first = range.substr(0, dash);
    const std::string last =
        dash == std::string::npos ? first : range.substr(dash + 1);
    if (!digits(first) || !digits(last) || std::stol(last) < std::stol(first)) {
      std::string why = "no range of numbers: '";
      why += range;
      why += "' in '";
      why += part;
      why += "'";
      throw TopologyError(why);
    }
    for (long number = std::stol(first); number <= std::stol(last); ++number) {
      if (names.size() >= limit) {
        throw TopologyError("more than " + std::to_string(limit) + " names");
      }
      std::string name = prefix;
      const std::string text = std::to_string(number);
      // Zero-padded as the range was written: n[01-10].
      name.append(first.size() > text.size() ? first.size() - text.size() : 0,
                  '0');
      name += text;
      name += suffix;
      names.push_back(name);
    }
  }
}

} // namespace

std::vector<std::string> expand_hostlist(const std::string &list,
                                         std::size_t limit) {
  std::vector<std::string> names;
  for (const auto &part : top_level_parts(list)) {
    expand_part(part, names, limit);
  }
  return names;
}

void Topology::add_line(const std::string &line) {
  std::istringstream words(line);
  std::string name;
  std::string nodes;
  std::string children;
  for (std::string word; words >> word;) {
    const auto equals = word.find('=');
    const std::string key = word.substr(0, equals);
    const std::string value =
        equals == std::string::npos ? "" : word.substr(equals + 1);
    if (key == "SwitchName") {
      name = value;
    } else if (key == "Nodes") {
      nodes = value;
    } else if (key == "Switches") {
      children = value;
    } else if (key != "Level" && key != "LinkSpeed") {
      throw TopologyError("unknown key '" + key + "'");
    }
  }
  if (name.empty()) {
    if (nodes.empty() && children.empty()) {
      return;
    }
    throw TopologyError("no SwitchName");
  }
  // Every name goes into the reports, a page among them.
  std::string all = name;
  all += ",";
  all += nodes;
  all += ",";
  all += children;
  for (const auto &named : expand_hostlist(all)) {
    const std::string why = host_name_problem(named);
    if (!why.empty()) {
      throw TopologyError(why);
    }
  }
  Switch &entry = switches_[name];
  if (std::find(order_.begin(), order_.end(), name) == order_.end()) {
    order_.push_back(name);
  }
  // scontrol show topology also lists, beside an upper switch's
  // switches, every node beneath them; a node's own switch is its leaf.
  if (!children.empty()) {
    nodes.clear();
  }
  for (const auto &node : expand_hostlist(nodes)) {
    entry.nodes.push_back(node);
    if (!leaf_of_.emplace(host_key(node), name).second) {
      throw TopologyError("node " + node + " is under two switches");
    }
  }
  const auto more = expand_hostlist(children);
  entry.children.insert(entry.children.end(), more.begin(), more.end());
}

void Topology::link() {
  for (const auto &[name, entry] : switches_) {
    for (const auto &child : entry.children) {
      const auto found = switches_.find(child);
      if (found == switches_.end()) {
        std::string why = "switch " + name;
        why += " names " + child;
        why += ", which is not a switch";
        throw TopologyError(why);
      }
      if (!found->second.parent.empty()) {
        throw TopologyError("switch " + child + " is under two switches");
      }
      found->second.parent = name;
    }
  }
  // A cycle would leave no top: every switch must reach one.
  for (const auto &[name, entry] : switches_) {
    std::set<std::string> seen{name};
    for (std::string upper = entry.parent; !upper.empty();
         upper = switches_.at(upper).parent) {
      if (!seen.insert(upper).second) {
        throw TopologyError("switches in a cycle: " + name);
      }
    }
  }
}

Topology Topology::parse(const std::string &text) {
  Topology topology;
  std::istringstream lines(text);
  int number = 0;
  for (std::string line; std::getline(lines, line);) {
    ++number;
    const auto comment = line.find('#');
    if (comment != std::string::npos) {
      line.resize(comment);
    }
    try {
      topology.add_line(line);
    } catch (const TopologyError &error) {
      throw TopologyError("line " + std::to_string(number) + ": " +
                          error.what());
    }
  }
  topology.link();
  return topology;
}

std::optional<std::string> Topology::switch_of(const std::string &node) const {
  const auto found = leaf_of_.find(host_key(node));
  if (found == leaf_of_.end()) {
    return std::nullopt;
  }
  return found->second;
}

std::vector<std::string> Topology::path_of(const std::string &node) const {
  const auto leaf = switch_of(node);
  if (!leaf) {
    return {};
  }
  std::vector<std::string> path{*leaf};
  const auto higher = above(*leaf);
  path.insert(path.end(), higher.begin(), higher.end());
  return path;
}

std::vector<std::string> Topology::above(const std::string &switch_name) const {
  std::vector<std::string> path;
  const auto found = switches_.find(switch_name);
  for (std::string at = found == switches_.end() ? "" : found->second.parent;
       !at.empty(); at = switches_.at(at).parent) {
    path.push_back(at);
  }
  return path;
}

std::vector<std::string> Topology::switches() const {
  std::vector<std::string> order;
  // Depth first from each top, children in the order they are named.
  std::vector<std::string> pending;
  for (auto top = order_.rbegin(); top != order_.rend(); ++top) {
    if (switches_.at(*top).parent.empty()) {
      pending.push_back(*top);
    }
  }
  while (!pending.empty()) {
    const std::string name = pending.back();
    pending.pop_back();
    order.push_back(name);
    const auto &children = switches_.at(name).children;
    pending.insert(pending.end(), children.rbegin(), children.rend());
  }
  return order;
}

bool Topology::has_uplink(const std::string &switch_name) const {
  const auto found = switches_.find(switch_name);
  return found != switches_.end() && !found->second.parent.empty();
}

std::vector<std::string>
Topology::in_order(const std::vector<std::string> &nodes) const {
  // The given spelling of each node, which the launchers are given.
  std::map<std::string, std::string> given;
  for (const auto &node : nodes) {
    given.emplace(host_key(node), node);
  }
  std::vector<std::string> order;
  for (const auto &name : switches()) {
    for (const auto &node : switches_.at(name).nodes) {
      const auto found = given.find(host_key(node));
      if (found != given.end()) {
        order.push_back(found->second);
      }
    }
  }
  std::copy_if(nodes.begin(), nodes.end(), std::back_inserter(order),
               [&](const std::string &node) { return !switch_of(node); });
  return order;
}

} // namespace sweep

#include "given/hosts.h"

#include "given/text.h"

#include <algorithm>
#include <cctype>
#include <sstream>
#include <unordered_set>

namespace sweep {

namespace {

std::string trimmed(const std::string &text) {
  const auto first = text.find_first_not_of(" \t\r");
  if (first == std::string::npos) {
    return "";
  }
  return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

} // namespace

std::string host_name_problem(const std::string &name) {
  const auto quoted = [&] { return "'" + one_line(name, 80) + "'"; };
  if (name.empty()) {
    return "an empty host name";
  }
  if (name.size() > 253) {
    return quoted() + "... is longer than a host name can be (253)";
  }
  if (name.front() == '-') {
    return quoted() + " is not a host name: it begins with '-'";
  }
  const auto bad = name.find_first_not_of(
      "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789-._");
  if (bad != std::string::npos) {
    return quoted() + " is not a host name: letters, digits, '-', '.' and "
                      "'_' only";
  }
  return "";
}

std::vector<std::string> split_hosts(const std::string &list) {
  std::vector<std::string> hosts;
  std::istringstream stream(list);
  for (std::string host; std::getline(stream, host, ',');) {
    host = trimmed(host);
    if (!host.empty()) {
      hosts.push_back(host);
    }
  }
  return hosts;
}

std::vector<std::string> read_hostfile(std::istream &file,
                                       std::string &problem) {
  std::vector<std::string> hosts;
  int number = 0;
  // Lines and hosts are bounded: a host file may be anything at all.
  std::vector<char> buffer(4097);
  const auto size = static_cast<std::streamsize>(buffer.size());
  while (file.getline(buffer.data(), size) || file.gcount() > 0) {
    ++number;
    if (file.fail() && !file.eof()) {
      problem =
          "line " + std::to_string(number) + " is longer than 4096 characters";
      return {};
    }
    if (hosts.size() >= max_hosts) {
      problem = "more than " + std::to_string(max_hosts) + " hosts";
      return {};
    }
    // Every byte of the line counts, a NUL too.
    const auto length =
        static_cast<std::size_t>(file.gcount()) - (file.eof() ? 0 : 1);
    const std::string text(buffer.data(), length);
    const std::string line = trimmed(text.substr(0, text.find('#')));
    std::string host = line.substr(0, line.find_first_of(" \t:"));
    if (host.empty()) {
      continue;
    }
    const std::string why = host_name_problem(host);
    if (!why.empty()) {
      problem = "line " + std::to_string(number) + ": " + why;
      return {};
    }
    hosts.push_back(host);
  }
  return hosts;
}

std::string host_key(const std::string &name) {
  std::string key = name;
  std::transform(key.begin(), key.end(), key.begin(), [](unsigned char letter) {
    return static_cast<char>(std::tolower(letter));
  });
  return key;
}

std::vector<std::string> unique_hosts(const std::vector<std::string> &nodes,
                                      std::vector<std::string> &dropped) {
  std::vector<std::string> unique;
  std::unordered_set<std::string> seen;
  for (const auto &node : nodes) {
    if (seen.insert(host_key(node)).second) {
      unique.push_back(node);
    } else {
      dropped.push_back(node);
    }
  }
  return unique;
}

} // namespace sweep

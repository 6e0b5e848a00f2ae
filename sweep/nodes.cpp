#include "nodes.h"

#include "text.h"

#include <elf.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>

namespace sweep {

namespace {

std::string trimmed(const std::string &text) {
  const auto first = text.find_first_not_of(" \t\r");
  if (first == std::string::npos) {
    return "";
  }
  return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

// The DT_NEEDED names of an ELF image of one class (Ehdr/Shdr/Dyn of it).
template <typename Ehdr, typename Shdr, typename Dyn>
std::vector<std::string> needed(const std::string &image) {
  std::vector<std::string> names;
  Ehdr header{};
  if (image.size() < sizeof header) {
    return names;
  }
  std::memcpy(&header, image.data(), sizeof header);
  const auto section = [&](std::size_t index, Shdr &out) {
    const std::size_t offset = header.e_shoff + index * sizeof(Shdr);
    if (index >= header.e_shnum || offset + sizeof(Shdr) > image.size() ||
        offset < header.e_shoff) {
      return false;
    }
    std::memcpy(&out, image.data() + offset, sizeof out);
    return true;
  };
  for (std::size_t i = 0; i < header.e_shnum; ++i) {
    Shdr dynamic{};
    Shdr strings{};
    if (!section(i, dynamic) || dynamic.sh_type != SHT_DYNAMIC ||
        !section(dynamic.sh_link, strings) ||
        dynamic.sh_offset > image.size() ||
        dynamic.sh_size > image.size() - dynamic.sh_offset ||
        strings.sh_offset > image.size() ||
        strings.sh_size > image.size() - strings.sh_offset) {
      continue;
    }
    for (std::size_t offset = 0; offset + sizeof(Dyn) <= dynamic.sh_size;
         offset += sizeof(Dyn)) {
      Dyn entry{};
      std::memcpy(&entry, image.data() + dynamic.sh_offset + offset,
                  sizeof entry);
      // The value of an entry, read as the number it is for DT_NEEDED.
      decltype(entry.d_tag) value = 0;
      std::memcpy(&value, &entry.d_un, sizeof value);
      if (entry.d_tag == DT_NULL) {
        break;
      }
      if (entry.d_tag == DT_NEEDED && value >= 0 &&
          static_cast<std::size_t>(value) < strings.sh_size) {
        const auto at_name = static_cast<std::size_t>(value);
        const char *name = image.data() + strings.sh_offset + at_name;
        names.emplace_back(name, strnlen(name, strings.sh_size - at_name));
      }
    }
  }
  return names;
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

std::optional<Mpi> linked_mpi(const std::string &program) {
  std::ifstream file(program, std::ios::binary);
  const std::string image((std::istreambuf_iterator<char>(file)),
                          std::istreambuf_iterator<char>());
  if (image.size() < EI_NIDENT || image.compare(0, SELFMAG, ELFMAG) != 0) {
    return std::nullopt;
  }
  const auto names = image[EI_CLASS] == ELFCLASS64
                         ? needed<Elf64_Ehdr, Elf64_Shdr, Elf64_Dyn>(image)
                         : needed<Elf32_Ehdr, Elf32_Shdr, Elf32_Dyn>(image);
  for (const auto &name : names) {
    // MPICH's library is libmpich, or libmpi.so.12 by its ABI name; Open
    // MPI's is libmpi.so.40.
    if (name.rfind("libmpich.so", 0) == 0 ||
        name.rfind("libmpi.so.12", 0) == 0) {
      return Mpi::mpich;
    }
    if (name.rfind("libmpi.so.40", 0) == 0) {
      return Mpi::openmpi;
    }
  }
  return std::nullopt;
}

} // namespace sweep

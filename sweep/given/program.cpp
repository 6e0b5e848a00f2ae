#include "given/program.h"

#include "given/text.h"

#include <elf.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

namespace sweep {

namespace {

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

std::string program_problem(const std::string &program) {
  struct stat info {};
  if (stat(program.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
    return "PROGRAM " + one_line(program) + " is not a file";
  }
  if (access(program.c_str(), X_OK) != 0) {
    return "PROGRAM " + one_line(program) + " is not executable";
  }
  return "";
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

// A report file: checked to be writable before the sweep starts, and
// written whole at the end, to a temporary file beside it that is then
// renamed, so that a failed write never leaves half a file.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

namespace sweep {

// Why a report file cannot be written.
struct OutputError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

class OutputFile {
public:
  OutputFile() = default;
  // Makes the temporary file beside PATH now; throws OutputError.
  explicit OutputFile(std::string path);
  OutputFile(const OutputFile &) = delete;
  OutputFile &operator=(const OutputFile &) = delete;
  OutputFile(OutputFile &&other) noexcept;
  OutputFile &operator=(OutputFile &&other) noexcept;
  // Removes the temporary file if it was never committed.
  ~OutputFile();

  [[nodiscard]] bool wanted() const { return !path_.empty(); }
  [[nodiscard]] const std::string &path() const { return path_; }
  // Writes TEXT and puts the file in its place; throws OutputError.
  void commit(std::string_view text);

private:
  void discard();
  std::string path_;
  std::string temporary_;
  int fd_ = -1;
};

} // namespace sweep

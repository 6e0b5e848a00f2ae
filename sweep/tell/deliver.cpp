#include "tell/deliver.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <sstream>

namespace sweep {

namespace {

// TEXT to DESCRIPTOR whole; the error, or empty.
std::string write_whole(int descriptor, const std::string &text) {
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t wrote =
        write(descriptor, text.data() + done, text.size() - done);
    if (wrote < 0 && errno == EINTR) {
      continue;
    }
    if (wrote <= 0) {
      return strerror(wrote < 0 ? errno : ENOSPC);
    }
    done += static_cast<std::size_t>(wrote);
  }
  return "";
}

} // namespace

std::string json_text(const Report &report) {
  return to_json(report).dump(2, ' ', false,
                              nlohmann::json::error_handler_t::replace) +
         "\n";
}

std::vector<std::string> deliver(const Report &report, ReportFiles &files,
                                 int table_fd) {
  std::vector<std::string> lost;
  std::ostringstream table;
  write_table(table, report);
  const std::string why = write_whole(table_fd, table.str());
  if (!why.empty()) {
    lost.push_back("the table: cannot write standard output: " + why);
  }
  const auto one = [&](OutputFile &file,
                       const std::function<std::string()> &text) {
    if (!file.wanted()) {
      return;
    }
    try {
      file.commit(text());
    } catch (const std::exception &error) {
      lost.emplace_back(error.what());
    }
  };
  one(files.json, [&] { return json_text(report); });
  one(files.junit, [&] { return to_junit(report); });
  one(files.html, [&] { return to_html(report); });
  return lost;
}

} // namespace sweep

// Writing every report, each on its own: the table on standard output and
// the JSON, JUnit and page files. One that cannot be written (a missing
// folder, a full disk, a closed standard output) is named with why, and
// the others are still written.
#pragma once

#include "tell/output.h"
#include "tell/report.h"

#include <ostream>
#include <string>
#include <vector>

namespace sweep {

struct ReportFiles {
  OutputFile json;
  OutputFile junit;
  OutputFile html;
};

// Writes them all; returns one line for each report that was lost.
std::vector<std::string> deliver(const Report &report, ReportFiles &files,
                                 int table_fd);

// The JSON as the file holds it.
std::string json_text(const Report &report);

} // namespace sweep

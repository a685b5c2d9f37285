#include "admin/text_output.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <ostream>
#include <sstream>

#include "admin/admin_error.h"
#include "platform/visible_text.h"

namespace veltrane::admin {

std::string ReadInputFile(const AdminContext& context, const std::string& path) {
  if (path == "-")
    return std::string(std::istreambuf_iterator<char>(context.io.in),
                       std::istreambuf_iterator<char>());
  std::ifstream file(path, std::ios::binary);
  if (!file) DataError("cannot read " + path + ": " + std::strerror(errno));
  std::ostringstream text;
  text << file.rdbuf();
  if (file.bad()) DataError("cannot read " + path + ": " + std::strerror(errno));
  return text.str();
}

void PrintTable(std::ostream& out, std::vector<std::vector<std::string>> rows) {
  std::vector<std::size_t> widths;
  for (auto& row : rows) {
    if (row.size() > widths.size()) widths.resize(row.size(), 0);
    for (std::size_t i = 0; i < row.size(); ++i) {
      std::replace_if(
          row[i].begin(), row[i].end(), [](char c) { return c == '\r' || c == '\n'; }, ' ');
      row[i] = VisibleText(row[i]);
      widths[i] = std::max(widths[i], row[i].size());
    }
  }
  for (const auto& row : rows) {
    std::string line;
    for (std::size_t i = 0; i < row.size(); ++i) {
      line += row[i];
      if (i + 1 < row.size()) line.append(widths[i] - row[i].size() + 2, ' ');
    }
    out << line << "\n";
  }
}

}  // namespace veltrane::admin

#include "raw/SignatureTable.h"

namespace quorvel::raw {

namespace {
std::vector<std::string> fields(std::string_view line) {
  std::vector<std::string> out;
  while (true) {
    const std::size_t tab = line.find('\t');
    out.emplace_back(line.substr(0, tab));
    if (tab == std::string_view::npos) break;
    line.remove_prefix(tab + 1);
  }
  return out;
}
}  // namespace

SignatureTable parseSignatureTable(std::string_view text) {
  SignatureTable table;
  int lineNumber = 0;
  while (!text.empty()) {
    const std::size_t newline = text.find('\n');
    std::string_view line = text.substr(0, newline);
    text.remove_prefix(newline == std::string_view::npos ? text.size() : newline + 1);
    ++lineNumber;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty() || line.front() == '#') continue;
    const std::vector<std::string> f = fields(line);
    if (f.size() != 10) {
      table.error = "line " + std::to_string(lineNumber) + ": 10 tab-separated fields expected";
      return table;
    }
    SignatureForm form;
    form.extension = f[0];
    form.category = f[1];
    form.startSignature = f[2];
    form.endSignature = f[3];
    form.sizeFieldOffset = f[4];
    form.sizeFieldBytes = f[5];
    form.headerSize = f[6];
    form.sizeIncludesHeader = f[7] == "1";
    form.approximateSize = f[8];
    form.skipSize = f[9];
    const FormRecord made = recordFromForm(form, static_cast<std::uint8_t>(table.records.size()));
    if (!made.record) {
      table.error = "line " + std::to_string(lineNumber) + ": " + made.message;
      return table;
    }
    table.records.push_back(*made.record);
  }
  return table;
}

}  // namespace quorvel::raw

#pragma once
// The readable table the program's own settings file is made from: one type
// a line, tab-separated fields (see data/signatures.tsv); '#' starts a comment line.
#include <string>
#include <string_view>
#include <vector>

#include "raw/SignatureRecord.h"

namespace quorvel::raw {

struct SignatureTable {
  std::vector<SignatureRecord> records;
  std::string error;  // the first bad line, when there is one
};

SignatureTable parseSignatureTable(std::string_view text);

}  // namespace quorvel::raw

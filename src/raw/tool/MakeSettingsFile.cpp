// make-settings-file TABLE OUT: writes the settings file a signature table describes.
#include <fstream>
#include <iostream>
#include <sstream>

#include "raw/SettingsFile.h"
#include "raw/SignatureTable.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: make-settings-file TABLE OUT\n";
    return 2;
  }
  std::ifstream in(argv[1], std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  if (!in) {
    std::cerr << "make-settings-file: cannot read " << argv[1] << '\n';
    return 1;
  }
  const quorvel::raw::SignatureTable table = quorvel::raw::parseSignatureTable(text.str());
  if (!table.error.empty()) {
    std::cerr << argv[1] << ": " << table.error << '\n';
    return 1;
  }
  if (!quorvel::raw::writeSettingsFile(argv[2], table.records)) {
    std::cerr << "make-settings-file: cannot write " << argv[2] << '\n';
    return 1;
  }
  return 0;
}

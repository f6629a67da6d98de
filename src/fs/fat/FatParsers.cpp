#include "fs/fat/Fat16Parser.h"
#include "fs/fat/Fat32Parser.h"

namespace quorvel {

std::unique_ptr<FileSystemParser> makeFat16Parser() { return std::make_unique<Fat16Parser>(); }
std::unique_ptr<FileSystemParser> makeFat32Parser() { return std::make_unique<Fat32Parser>(); }

}  // namespace quorvel

#include "fs/fat/Fat16Class.h"
#include "fs/fat/Fat32Class.h"

namespace quorvel {

std::unique_ptr<FileSystemParser> makeFat16Parser() { return std::make_unique<Fat16Class>(); }
std::unique_ptr<FileSystemParser> makeFat32Parser() { return std::make_unique<Fat32Class>(); }

}  // namespace quorvel

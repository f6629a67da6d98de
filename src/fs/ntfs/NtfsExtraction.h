#pragma once
// Streams a file's content from its data stream into a sink: resident
// bytes, clusters read in large pieces, sparse runs as holes, and
// compressed attributes decoded one compression unit at a time.
#include "fs/FileSystemParser.h"
#include "fs/ntfs/DataStream.h"
#include "fs/ntfs/NtfsVolume.h"

namespace quorvel::ntfsfmt {

// Writes exactly ds.length() bytes (unless the sink refuses). Parts that
// cannot be read (clusters outside the volume, read errors, extents that
// were not found) come out as zeros so later bytes keep their offsets; the
// result is then false. Bytes past the initialized size read as zeros.
bool streamContent(const DataStream& ds, const NtfsVolume& volume, ContentSink& sink);

}  // namespace quorvel::ntfsfmt

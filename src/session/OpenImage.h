#pragma once
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "fs/FileSystemParser.h"
#include "io/FileReadSeek.h"
#include "volumes/VolumeRecord.h"

namespace quorvel {

class ScanSession;

// The image a front end works on: the read-only source, the volumes found on
// it, the volume chosen among them and that volume's scan session. The
// wizard holds one and hands it from screen to screen; the CLI makes one per
// command. Opening another image, or closing, drops all of it together, so
// that nothing outlives the source it reads.
class OpenImage {
 public:
  OpenImage();
  ~OpenImage();
  OpenImage(const OpenImage&) = delete;
  OpenImage& operator=(const OpenImage&) = delete;

  // Closes what was open, then opens `path` read-only in whatever image
  // format it holds. False when it cannot be opened: nothing is open then,
  // and errorText() says why.
  bool open(const std::string& path);
  // Drops the source, its volumes, the chosen volume and its session.
  void close();

  bool isOpen() const { return source_ != nullptr; }
  // Null while nothing is open.
  const FileReadSeek* source() const { return source_.get(); }
  // One plain sentence saying why the last open failed; empty after one
  // that succeeded.
  const std::string& errorText() const { return errorText_; }

  // The volumes found on the source, in the order the discovery found them.
  const std::vector<VolumeRecord>& volumes() const { return volumes_; }
  void setVolumes(std::vector<VolumeRecord> volumes);
  void addVolume(VolumeRecord volume);

  // The volume to recover from. Choosing one ends the session of the last.
  void choose(VolumeRecord volume);
  const std::optional<VolumeRecord>& chosen() const { return chosen_; }

  // Starts the chosen volume's scan session, replacing the one before. Its
  // jobs read this image's source; a job may keep the session while it runs.
  std::shared_ptr<ScanSession> beginSession(ScanRequest request, std::unique_ptr<FileSystemParser> parser);
  // Null when none has begun since the last choice.
  const std::shared_ptr<ScanSession>& session() const { return session_; }
  // Ends `session` if it is still this image's: a screen that began one
  // ends it when it goes, so that its catalogue does not stay behind.
  void endSession(const ScanSession* session);

 private:
  std::unique_ptr<FileReadSeek> source_;
  std::string errorText_;
  std::vector<VolumeRecord> volumes_;
  std::optional<VolumeRecord> chosen_;
  std::shared_ptr<ScanSession> session_;
};

}  // namespace quorvel

#include "session/OpenImage.h"

#include "session/ScanSession.h"

namespace quorvel {

OpenImage::OpenImage() = default;

OpenImage::~OpenImage() { close(); }

bool OpenImage::open(const std::string& path) {
  close();
  auto source = std::make_unique<FileReadSeek>();
  if (!source->open(path)) {
    errorText_ = source->lastErrorText();
    return false;
  }
  source_ = std::move(source);
  errorText_.clear();
  return true;
}

void OpenImage::close() {
  // The session's parser reads the source: it goes first.
  session_.reset();
  chosen_.reset();
  volumes_.clear();
  source_.reset();
}

void OpenImage::setVolumes(std::vector<VolumeRecord> volumes) { volumes_ = std::move(volumes); }

void OpenImage::addVolume(VolumeRecord volume) { volumes_.push_back(std::move(volume)); }

void OpenImage::choose(VolumeRecord volume) {
  session_.reset();
  chosen_ = std::move(volume);
}

std::shared_ptr<ScanSession> OpenImage::beginSession(ScanRequest request, std::unique_ptr<FileSystemParser> parser) {
  session_.reset();
  session_ = std::make_shared<ScanSession>(std::move(request), std::move(parser));
  return session_;
}

void OpenImage::endSession(const ScanSession* session) {
  if (session_.get() == session) session_.reset();
}

}  // namespace quorvel

#pragma once
// The raw recovery screen: loads signature settings, carves the volume on a
// worker with progress, Pause, Resume and Stop, shows the carved files by
// category in a check tree and the clicked category's files in a list, and
// saves the checked files into an output folder.
#include <QPersistentModelIndex>
#include <filesystem>
#include <memory>
#include <vector>

#include "EntryIcons.h"
#include "WizardScreen.h"
#include "io/VolumeView.h"
#include "raw/CarvingEngine.h"
#include "session/JobRunner.h"
#include "volumes/VolumeRecord.h"

namespace Ui {
class RawRecoveryDialog;
}
namespace quorvel {
class CheckListModel;
class CheckTreeModel;
class ListFollowingTree;
}  // namespace quorvel
class GuiJobBridge;

class RawRecoveryDialog : public WizardScreen {
  Q_OBJECT
 public:
  // Carves the image's chosen volume.
  RawRecoveryDialog(quorvel::OpenImage& image, QWidget* parent);
  ~RawRecoveryDialog() override;

  bool busy() const { return job_ != Job::None; }
  const quorvel::VolumeRecord& volume() const { return volume_; }
  // The settings the last Parse loaded and carved with; null before one.
  const quorvel::raw::CarvingEngine* engine() const { return engine_.get(); }

 signals:
  // A run or a save has ended; the screen takes input again.
  void jobFinished();

 protected:
  void beforeProcessEnds() override;

 private:
  void chooseSettingsFile();
  void openSettingScreen();
  enum class Job { None, Carve, Save };

  void parse();
  bool loadSettings();
  void endParse();
  void startJob(Job job, std::function<void(quorvel::JobContext&)> work);
  void finishJob();
  void showRunControls(bool shown);

  void beginResultsBranch();
  void addCarvedItem(std::size_t file);
  void fillList(const QModelIndex& item);
  std::vector<std::size_t> checkedFiles() const;
  void browseOutput();
  void save();

  std::unique_ptr<Ui::RawRecoveryDialog> ui_;
  quorvel::VolumeRecord volume_;
  GuiJobBridge* bridge_;
  quorvel::JobRunner runner_;
  std::shared_ptr<quorvel::raw::CarvingEngine> engine_;
  quorvel::VolumeView view_;
  quorvel::CheckTreeModel* tree_ = nullptr;
  quorvel::CheckListModel* list_ = nullptr;
  quorvel::ListFollowingTree* rows_ = nullptr;  // a category's rows follow their tree items
  EntryIcons icons_;
  std::vector<QPersistentModelIndex> categoryItems_;  // of the run under way
  // Every carved file the tree shows, whichever run found it: a new engine
  // replaces the old one, and the old branch's items must still save theirs.
  std::vector<quorvel::raw::CarvedFile> carved_;
  Job job_ = Job::None;
};

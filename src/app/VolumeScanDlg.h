#pragma once
#include <QModelIndex>
#include <QString>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "EntryIcons.h"
#include "WizardScreen.h"
#include "fs/FileSystemParser.h"
#include "session/SavePlan.h"
#include "session/JobRunner.h"
#include "volumes/VolumeRecord.h"

namespace Ui {
class VolumeScanDlg;
}
namespace quorvel {
class CheckListModel;
class CheckTreeModel;
class ListFollowingTree;
class ScanSession;
struct CheckTreeItem;
}  // namespace quorvel
class GuiJobBridge;

// The scan screen: scans the volume on a worker, then shows the recovered
// folders as a tree and the clicked folder's files as a list, saves checked
// items, the selected folder or a double-clicked file into an output folder,
// and searches file names. Scans, saves and searches are jobs on a worker
// with progress, Pause, Resume and Stop; while one runs the results are not
// touched from the screen.
class VolumeScanDlg : public WizardScreen {
  Q_OBJECT
 public:
  // Scans the image's chosen volume in `mode`, in a session of its own.
  VolumeScanDlg(quorvel::OpenImage& image, quorvel::RecoveryMode mode, QWidget* parent);
  // Advanced mode: the image's session, whose parser the advanced-input
  // screen has searched with, and the user's choices among what it found.
  // The session stays that screen's.
  VolumeScanDlg(quorvel::OpenImage& image, const quorvel::AdvancedChoices& choices, QWidget* parent);
  ~VolumeScanDlg() override;

  const quorvel::VolumeRecord& volume() const { return volume_; }
  quorvel::RecoveryMode mode() const { return mode_; }
  bool jobRunning() const { return job_ != Job::None; }

 signals:
  // A scan, save or search has ended; the screen takes input again.
  void jobFinished();

 protected:
  void beforeProcessEnds() override;

 private:
  enum class Job { None, Scan, Save, Search };

  void setUpScreen();
  void startScan(const quorvel::AdvancedChoices& choices);
  void startJob(Job job, std::function<void(quorvel::JobContext&)> work);
  void finishJob();
  void showJobRunning(bool running);
  void cannotScan();
  void jobMessage(const QString& text);

  void showResults();
  std::vector<quorvel::CheckTreeItem> childItems(const QModelIndex& folder);
  std::optional<quorvel::EntryId> entryAt(const QModelIndex& item) const;
  bool isTopItem(const QModelIndex& item) const;
  void fillList(const QModelIndex& item);
  void addListRow(const QModelIndex& item);

  std::optional<std::filesystem::path> outputFolder();
  void browseOutput();
  void save();
  std::vector<quorvel::SaveTarget> checkedTargets() const;
  std::optional<quorvel::SaveTarget> selectedTarget() const;
  void saveOneFile(quorvel::EntryId id);
  void search();
  void addSearchRow(const std::vector<std::string>& texts, const std::string& name, quorvel::EntryId id,
                    std::vector<std::string> folders);

  std::unique_ptr<Ui::VolumeScanDlg> ui_;
  quorvel::VolumeRecord volume_;
  quorvel::RecoveryMode mode_;
  std::shared_ptr<quorvel::ScanSession> session_;
  bool ownSession_ = false;   // this screen began session_ and ends it
  bool scanned_ = false;      // the catalogue is complete and shown
  Job job_ = Job::None;
  bool searchResults_ = false;  // the list shows search results, not a folder's rows
  std::vector<std::vector<std::string>> searchFolders_;  // the folders of each search row
  quorvel::CheckTreeModel* tree_ = nullptr;
  quorvel::CheckListModel* list_ = nullptr;
  quorvel::ListFollowingTree* rows_ = nullptr;  // a folder's rows follow their tree items
  EntryIcons icons_;
  GuiJobBridge* bridge_;
  quorvel::JobRunner runner_;
};

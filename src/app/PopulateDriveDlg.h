#pragma once
#include <memory>

#include "WizardScreen.h"
#include "logic/VolumeListRules.h"
#include "session/JobRunner.h"

namespace Ui {
class PopulateDriveDlg;
}
class GuiJobBridge;

// The volume list screen: lists the volumes of a disk image, by its tables
// while it opens or by the advanced scan on a worker thread, and lets the
// user filter them, add a custom volume, override a volume's range and kind,
// and choose one.
class PopulateDriveDlg : public WizardScreen {
  Q_OBJECT
 public:
  PopulateDriveDlg(quorvel::OpenImage& image, wizard::VolumeListRequest request, QWidget* parent);
  ~PopulateDriveDlg() override;

  const wizard::VolumeListRequest& request() const { return request_; }

 signals:
  // The listing or scan has ended; the list is complete.
  void listingFinished();

 private:
  void runStandardListing();
  void startAdvancedScan();
  void addFoundVolume(const quorvel::VolumeRecord& volume);
  void finishAdvancedScan();
  void finishListing();
  void stop();

  void showRows();
  void insertTableRow(int at, const wizard::VolumeRow& row);
  int selectedRow() const;
  void selectionChanged();
  void rowClicked(int row);
  void setCustomControlsEnabled(bool enabled);
  void addCustomVolume();
  void filterEntries();
  void next();

  std::unique_ptr<Ui::PopulateDriveDlg> ui_;
  wizard::VolumeListRequest request_;
  wizard::VolumeListRows rows_;
  GuiJobBridge* bridge_;
  std::unique_ptr<quorvel::JobRunner> scan_;
};

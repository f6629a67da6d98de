#include "AdvancedInputScreen.h"

#include "DesktopServices.h"
#include "GuiJobBridge.h"
#include "VolumeScanDlg.h"
#include "WizardState.h"
#include "session/OpenImage.h"
#include "session/ScanSession.h"
#include "ui_AdvancedInputScreen.h"

namespace {

constexpr const char* kRestart = "Please Restart the program to re begin necessary initialization...";
constexpr const char* kNothingFound = "No File system Entry Found.Process cannot be continue...";

QString qText(const std::string& text) { return QString::fromStdString(text); }

void fill(QComboBox* list, const std::vector<std::string>& items) {
  list->clear();
  for (const std::string& item : items) list->addItem(qText(item));
  list->setCurrentIndex(items.empty() ? -1 : 0);
}

}  // namespace

AdvancedInputScreen::AdvancedInputScreen(quorvel::OpenImage& image, int maxFileSystems, QWidget* parent)
    : WizardScreen(image, parent),
      ui_(std::make_unique<Ui::AdvancedInputScreen>()),
      volume_(image.chosen().value_or(quorvel::VolumeRecord())),
      maxCount_(wizard::maxCandidates(maxFileSystems)),
      bridge_(new GuiJobBridge(this)),
      runner_(bridge_) {
  ui_->setupUi(this);
  setUpHelp(ui_->helpButton, ui_->link);
  const wizard::AdvancedInputLayout layout = wizard::advancedInputLayout(volume_.fileSystem);
  ui_->candidateCaption->setText(qText(layout.firstCaption));
  ui_->clusterCaption->setVisible(layout.clusterListShown);
  ui_->clusterCombo->setVisible(layout.clusterListShown);
  ui_->heapCaption->setVisible(layout.heapListShown);
  ui_->heapCombo->setVisible(layout.heapListShown);

  ui_->jobPanel->attach(*bridge_, runner_);
  bridge_->onMessage = [this](const QString& text) { desktop().information(this, text); };

  // The search ends at its next look at the flag and offers what it found;
  // Next waits for the lists.
  connect(ui_->jobPanel, &JobPanel::stopPressed, this, [this] {
    stopped_ = true;
    ui_->backButton->setEnabled(true);
  });
  connect(ui_->backButton, &QPushButton::clicked, this, &AdvancedInputScreen::back);
  connect(ui_->nextButton, &QPushButton::clicked, this, &AdvancedInputScreen::next);

  if (!layout.openingStatus.empty()) ui_->jobPanel->setStatus(qText(layout.openingStatus));
  startSearch();
}

AdvancedInputScreen::~AdvancedInputScreen() {
  bridge_->detach();
  runner_.end();
  runner_.wait();
  image().endSession(session_.get());
}

void AdvancedInputScreen::startSearch() {
  const wizard::AdvancedInputLayout layout = wizard::advancedInputLayout(volume_.fileSystem);
  if (!layout.searches) {
    // Nothing to search on this kind; Back must stay possible.
    showSearchRunning(false);
    return;
  }
  const quorvel::FileReadSeek* source = image().source();
  if (!source) {
    desktop().information(this, kRestart);
    showSearchRunning(false);
    return;
  }
  quorvel::ScanRequest request = quorvel::scanRequestFor(volume_, quorvel::RecoveryMode::Advanced);
  request.advanced.maxCandidates = maxCount_;
  request.advanced.formatted = wizardState().driveFormatted;
  // Kinds whose searches are not there yet have no parser for this mode:
  // they find nothing.
  if (std::unique_ptr<quorvel::FileSystemParser> parser = quorvel::parserFor(volume_.fileSystem, request.mode))
    session_ = image().beginSession(request, std::move(parser));

  searching_ = true;
  showSearchRunning(true);
  runner_.start([this, session = session_, source, kind = volume_.fileSystem,
                 status = layout.searchStatus](quorvel::JobContext& job) {
    if (!status.empty()) job.setStatus(status);
    quorvel::CandidateLists lists;
    if (session)
      lists = session->findCandidates(*source, job);
    else
      lists.sectorsPerCluster = wizard::fixedClusterChoices(kind);
    bridge_->run([this, lists] { finishSearch(lists); });
  });
}

void AdvancedInputScreen::finishSearch(const quorvel::CandidateLists& lists) {
  lists_ = lists;
  fill(ui_->candidateCombo, lists.tfs);
  fill(ui_->clusterCombo, wizard::clusterChoiceTexts(volume_.fileSystem, lists.sectorsPerCluster));
  fill(ui_->heapCombo, lists.heapOffsets);
  searching_ = false;
  showSearchRunning(false);
  ui_->nextButton->setEnabled(wizard::nextOffered(volume_.fileSystem, lists, stopped_));
  const wizard::SearchReport report = wizard::searchReport(volume_.fileSystem, lists);
  if (!report.message.empty()) desktop().information(this, qText(report.message));
  if (!report.status.empty()) ui_->jobPanel->setStatus(qText(report.status));
  emit searchFinished();
}

void AdvancedInputScreen::showSearchRunning(bool running) {
  ui_->jobPanel->setJobRunning(running);
  ui_->backButton->setEnabled(!running);
  ui_->nextButton->setEnabled(!running);
}

void AdvancedInputScreen::back() {
  // Whatever the worker still reports is for a screen that is going away.
  bridge_->detach();
  runner_.end();
  goBack();
}

void AdvancedInputScreen::next() {
  const std::optional<quorvel::AdvancedChoices> choices =
      wizard::advancedChoices(lists_, ui_->candidateCombo->currentIndex(), ui_->clusterCombo->currentIndex(),
                              ui_->heapCombo->currentIndex(), wizardState().driveFormatted, maxCount_);
  if (searching_ || !session_ || ui_->candidateCombo->currentIndex() < 0) {
    desktop().information(this, kNothingFound);
    return;
  }
  if (!choices) return;  // no cluster size chosen
  openNext(new VolumeScanDlg(image(), *choices, this));
}

void AdvancedInputScreen::beforeProcessEnds() { ui_->jobPanel->stopBeforeExit(); }

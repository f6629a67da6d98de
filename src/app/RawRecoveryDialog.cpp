#include "RawRecoveryDialog.h"

#include <QHeaderView>

#include "DesktopServices.h"
#include "GuiJobBridge.h"
#include "RawSettingDlg.h"
#include "raw/CarvedFileSaving.h"
#include "raw/CarvingEngine.h"
#include "session/OpenImage.h"
#include "session/OutputNames.h"
#include "session/Saving.h"
#include "ui/qt/CheckHeaderView.h"
#include "ui/qt/CheckListModel.h"
#include "ui/qt/CheckTreeModel.h"
#include "ui/qt/ListFollowingTree.h"
#include "ui_RawRecoveryDialog.h"

namespace {

constexpr const char* kStopPressed = "Stop button pressed.Please wait for the process to stop";
constexpr const char* kProcessingDone = "Processing done";
constexpr const char* kZeroSizeVolume = "zero size volume..";
constexpr const char* kSelectItem = "Please Select item from tree to save";
constexpr const char* kListColumn = "FILES LIST ";

QString qText(const std::string& text) { return QString::fromStdString(text); }

std::string notSavedWhole(std::size_t files) { return std::to_string(files) + " files could not be saved whole."; }

// Two paths that lead to one file, however they are spelt.
bool sameFile(const std::filesystem::path& a, const std::filesystem::path& b) {
  std::error_code error;
  return std::filesystem::equivalent(a, b, error) && !error;
}

// Tree items refer to carved files as their position + 1; folders carry 0.
quint64 payloadOf(std::size_t file) { return quint64(file) + 1; }

}  // namespace

RawRecoveryDialog::RawRecoveryDialog(quorvel::OpenImage& image, QWidget* parent)
    : WizardScreen(image, parent),
      ui_(std::make_unique<Ui::RawRecoveryDialog>()),
      volume_(image.chosen().value_or(quorvel::VolumeRecord())),
      bridge_(new GuiJobBridge(this)),
      runner_(bridge_) {
  ui_->setupUi(this);
  setUpHelp(ui_->helpButton, ui_->link);
  ui_->pathEdit->setText(qText(quorvel::raw::defaultSettingsPath().string()));
  ui_->loadDefaultCheck->setChecked(true);

  tree_ = new quorvel::CheckTreeModel(this);
  ui_->resultsTree->setModel(tree_);
  list_ = new quorvel::CheckListModel({kListColumn}, this);
  ui_->fileList->setHorizontalHeader(new quorvel::CheckHeaderView(Qt::Horizontal, ui_->fileList));
  ui_->fileList->setModel(list_);
  rows_ = new quorvel::ListFollowingTree(*tree_, *list_, this);
  ui_->fileList->verticalHeader()->hide();
  ui_->fileList->setColumnWidth(0, 300);
  ui_->fileList->horizontalHeader()->setStretchLastSection(true);
  ui_->resultsSplitter->setStretchFactor(0, 1);
  ui_->resultsSplitter->setStretchFactor(1, 1);

  ui_->jobPanel->attach(*bridge_, runner_);
  ui_->jobPanel->setStopText(kStopPressed);
  bridge_->onMessage = [this](const QString& text) { desktop().plainMessage(this, text); };

  connect(ui_->browseSettingsButton, &QPushButton::clicked, this, &RawRecoveryDialog::chooseSettingsFile);
  connect(ui_->settingButton, &QPushButton::clicked, this, &RawRecoveryDialog::openSettingScreen);
  connect(ui_->parseButton, &QPushButton::clicked, this, &RawRecoveryDialog::parse);
  connect(ui_->resultsTree, &QTreeView::clicked, this, &RawRecoveryDialog::fillList);
  connect(ui_->browseOutputButton, &QPushButton::clicked, this, &RawRecoveryDialog::browseOutput);
  connect(ui_->saveButton, &QPushButton::clicked, this, &RawRecoveryDialog::save);
  connect(ui_->backButton, &QPushButton::clicked, this, &WizardScreen::goBack);
  showRunControls(false);
}

RawRecoveryDialog::~RawRecoveryDialog() {
  // A worker waiting for the screen is released before it is joined.
  bridge_->detach();
  runner_.end();
  runner_.wait();
}

void RawRecoveryDialog::beforeProcessEnds() { ui_->jobPanel->stopBeforeExit(); }

void RawRecoveryDialog::chooseSettingsFile() {
  const QString path = desktop().openFileName(this, "Select settings file", "All files (*)");
  if (!path.isEmpty()) ui_->pathEdit->setText(path);
}

void RawRecoveryDialog::openSettingScreen() {
  RawSettingDlg setting(this);
  setting.exec();
}

void RawRecoveryDialog::showRunControls(bool shown) { ui_->jobPanel->setJobRunning(shown); }

// Ends a Parse that could not run: the screen is idle again.
void RawRecoveryDialog::endParse() {
  ui_->backButton->setEnabled(true);
  ui_->jobPanel->setStatus(kProcessingDone);
  showRunControls(false);
  job_ = Job::None;
}

// Loads the default settings into a new engine when asked, then the path
// box's file; false, after saying why, when that file was refused. The
// default file named in the path box too is loaded once.
bool RawRecoveryDialog::loadSettings() {
  std::string message;
  const std::filesystem::path defaults = quorvel::raw::defaultSettingsPath();
  const bool loadDefault = ui_->loadDefaultCheck->isChecked();
  if (loadDefault) {
    engine_ = std::make_shared<quorvel::raw::CarvingEngine>();
    engine_->loadFile(defaults, quorvel::raw::SettingsOrigin::Default, message);
    if (!message.empty()) desktop().information(this, qText(message));
  }
  const QString path = ui_->pathEdit->text();
  if (path.isEmpty() || (loadDefault && sameFile(path.toStdString(), defaults))) return true;
  if (!engine_) engine_ = std::make_shared<quorvel::raw::CarvingEngine>();
  if (engine_->loadFile(path.toStdString(), quorvel::raw::SettingsOrigin::Chosen, message)) return true;
  desktop().information(this, qText(message));
  return false;
}

void RawRecoveryDialog::parse() {
  if (busy()) return;
  showRunControls(true);
  job_ = Job::Carve;
  if (!loadSettings()) {
    endParse();
    return;
  }
  if (!engine_) {
    desktop().information(this, "enter the info file first..");
    endParse();
    return;
  }
  // The volume's real size in bytes, tail included.
  const quorvel::FileReadSeek* source = image().source();
  view_ = source ? quorvel::VolumeView(*source, quorvel::volumeExtent(volume_)) : quorvel::VolumeView();
  if (view_.size() == 0) {
    desktop().information(this, kZeroSizeVolume);
    endParse();
    return;
  }
  for (QWidget* control : {static_cast<QWidget*>(ui_->backButton), static_cast<QWidget*>(ui_->settingButton),
                           static_cast<QWidget*>(ui_->pathEdit), static_cast<QWidget*>(ui_->browseSettingsButton)})
    control->setEnabled(false);
  beginResultsBranch();
  engine_->onCarved = [this](std::size_t file) { bridge_->run([this, file] { addCarvedItem(file); }); };
  startJob(Job::Carve, [engine = engine_, view = view_](quorvel::JobContext& job) { engine->carve(view, job); });
}

void RawRecoveryDialog::startJob(Job job, std::function<void(quorvel::JobContext&)> work) {
  job_ = job;
  showRunControls(true);
  ui_->jobPanel->restartProgress();
  ::startJob(runner_, *bridge_, std::move(work), [this] { finishJob(); });
}

// However the job ended, the screen takes every input again. A save's
// status stays: it tells what could not be saved.
void RawRecoveryDialog::finishJob() {
  for (QWidget* control : {static_cast<QWidget*>(ui_->backButton), static_cast<QWidget*>(ui_->settingButton),
                           static_cast<QWidget*>(ui_->pathEdit), static_cast<QWidget*>(ui_->browseSettingsButton)})
    control->setEnabled(true);
  if (job_ == Job::Carve) ui_->jobPanel->setStatus(kProcessingDone);
  showRunControls(false);
  job_ = Job::None;
  emit jobFinished();
}

// ---------------------------------------------------------------- tree and list

// Each run adds its own "RAW RECOVERY " branch with one item per category.
void RawRecoveryDialog::beginResultsBranch() {
  quorvel::CheckTreeItem top;
  top.text = quorvel::raw::kRawRootText;
  top.icon = icons_.folder();
  const QModelIndex root = tree_->appendItem({}, top);
  categoryItems_.clear();
  for (const std::string& name : engine_->categories().first) {
    quorvel::CheckTreeItem category;
    category.text = qText(name);
    category.icon = icons_.folder();
    categoryItems_.emplace_back(tree_->appendItem(root, category));
  }
  ui_->resultsTree->expand(root);
}

// Runs while the worker waits, so the engine's lists hold still.
void RawRecoveryDialog::addCarvedItem(std::size_t file) {
  const quorvel::raw::CarvedFile& carved = engine_->carvedFiles().at(file);
  const quorvel::raw::CarveCategory& category = engine_->runs().at(carved.run).categories.at(carved.category);
  if (carved.category >= categoryItems_.size()) return;
  const QModelIndex categoryItem = categoryItems_[carved.category];
  tree_->setItemText(categoryItem, qText(category.text()));
  quorvel::CheckTreeItem item;
  item.text = qText(carved.name);
  item.icon = icons_.forFileName(item.text);
  item.payload = payloadOf(carved_.size());
  carved_.push_back(carved);
  tree_->appendItem(categoryItem, item);
}

void RawRecoveryDialog::fillList(const QModelIndex& item) {
  if (busy() || !item.isValid()) return;
  rows_->clear();
  for (int row = 0; row < tree_->rowCount(item); ++row) {
    const QModelIndex child = tree_->index(row, 0, item);
    if (tree_->payload(child) == 0) continue;  // a category, not a carved file
    quorvel::CheckListRow listRow;
    listRow.texts = {tree_->data(child).toString()};
    listRow.icon = tree_->data(child, Qt::DecorationRole).value<QIcon>();
    listRow.payload = tree_->payload(child);
    rows_->addRow(child, listRow);
  }
}

std::vector<std::size_t> RawRecoveryDialog::checkedFiles() const {
  std::vector<std::size_t> files;
  for (int r = 0; r < tree_->rowCount(); ++r) {
    const QModelIndex root = tree_->index(r, 0);
    for (int c = 0; c < tree_->rowCount(root); ++c) {
      const QModelIndex category = tree_->index(c, 0, root);
      for (int f = 0; f < tree_->rowCount(category); ++f) {
        const QModelIndex file = tree_->index(f, 0, category);
        if (tree_->payload(file) != 0 && tree_->isChecked(file)) files.push_back(tree_->payload(file) - 1);
      }
    }
  }
  return files;
}

// ---------------------------------------------------------------- saving

void RawRecoveryDialog::browseOutput() {
  const QString folder = desktop().existingFolder(this, "Select output folder");
  if (!folder.isEmpty()) ui_->outputEdit->setText(folder);
}

// One file per checked carved file, named after its item, read in bounded
// pieces, into the output folder, which is made if it is missing.
void RawRecoveryDialog::save() {
  if (busy()) {
    desktop().information(this, quorvel::kWaitForOtherProcess);
    return;
  }
  const std::vector<std::size_t> files = checkedFiles();
  if (files.empty()) {
    desktop().information(this, kSelectItem);
    return;
  }
  const std::optional<std::filesystem::path> folder = quorvel::outputFolderFromText(ui_->outputEdit->text().toStdString());
  if (!folder) {
    desktop().plainMessage(this, quorvel::kSelectOutputFolder);
    return;
  }
  const quorvel::OutputFolderMade made = quorvel::makeOutputFolder(*folder);
  if (!made.ready) {
    desktop().plainMessage(this, qText(made.failure));
    return;
  }
  std::vector<std::pair<std::size_t, quorvel::raw::CarvedFile>> chosen;
  for (const std::size_t index : files) chosen.emplace_back(index, carved_.at(index));
  startJob(Job::Save, [view = view_, chosen = std::move(chosen), folder = *folder](quorvel::JobContext& job) {
    job.setProgressRange(0, static_cast<std::int64_t>(chosen.size()));
    // Files of different runs may share a start, and so a name: each gets its own.
    quorvel::OutputNames names;
    std::size_t failed = 0, done = 0;
    std::string firstFailure;
    for (const auto& [index, file] : chosen) {
      if (!job.checkpoint()) break;
      const std::string name = names.claim(file.name, index);
      job.setStatus("saving File  " + (folder / name).string());
      const quorvel::raw::CarvedFileWritten written = quorvel::raw::saveCarvedFile(view, file, folder, name);
      if (!written.whole && failed++ == 0) firstFailure = written.failure;
      job.setProgress(static_cast<std::int64_t>(++done));
    }
    if (failed == 0) {
      job.showMessage(quorvel::kWorkDone);
      return;
    }
    job.setStatus(notSavedWhole(failed));
    job.setDetail(firstFailure);
    job.showMessage(notSavedWhole(failed) + "\n" + firstFailure);
  });
}

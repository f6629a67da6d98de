#include "RawRecoveryDialog.h"

#include <QHeaderView>

#include "DesktopServices.h"
#include "GuiJobBridge.h"
#include "RawSettingDlg.h"
#include "raw/CarvedFileSaving.h"
#include "raw/CarvingEngine.h"
#include "session/OpenImage.h"
#include "session/Saving.h"
#include "ui/qt/CheckListModel.h"
#include "ui/qt/CheckTreeModel.h"
#include "ui_RawRecoveryDialog.h"

namespace {

constexpr const char* kStopPressed = "Stop button pressed.Please wait for the process to stop";
constexpr const char* kProcessingDone = "Processing done";
constexpr const char* kZeroSizeVolume = "zero size volume..";
constexpr const char* kSelectItem = "Please Select item from tree to save";
constexpr const char* kListColumn = "FILES LIST ";

QString qText(const std::string& text) { return QString::fromStdString(text); }

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
  ui_->fileList->setModel(list_);
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
  connect(list_, &quorvel::CheckListModel::rowCheckToggled, this, &RawRecoveryDialog::listRowToggled);
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
  busy_ = false;
}

void RawRecoveryDialog::parse() {
  if (busy_) return;
  showRunControls(true);
  busy_ = true;
  std::string message;
  if (ui_->loadDefaultCheck->isChecked()) {
    engine_ = std::make_shared<quorvel::raw::CarvingEngine>();
    engine_->loadFile(quorvel::raw::defaultSettingsPath(), quorvel::raw::SettingsOrigin::Default, message);
    if (!message.empty()) desktop().information(this, qText(message));
  }
  const QString path = ui_->pathEdit->text();
  if (!path.isEmpty()) {
    if (!engine_) engine_ = std::make_shared<quorvel::raw::CarvingEngine>();
    if (!engine_->loadFile(path.toStdString(), quorvel::raw::SettingsOrigin::Chosen, message)) {
      desktop().information(this, qText(message));
      endParse();
      return;
    }
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
  startJob([engine = engine_, view = view_](quorvel::JobContext& job) { engine->carve(view, job); });
}

void RawRecoveryDialog::startJob(std::function<void(quorvel::JobContext&)> work) {
  busy_ = true;
  showRunControls(true);
  ui_->jobPanel->restartProgress();
  ::startJob(runner_, *bridge_, std::move(work), [this] { finishJob(); });
}

void RawRecoveryDialog::finishJob() {
  ui_->backButton->setEnabled(true);
  ui_->settingButton->setEnabled(true);
  ui_->jobPanel->setStatus(kProcessingDone);
  showRunControls(false);
  busy_ = false;
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
  if (busy_ || !item.isValid()) return;
  list_->clear();
  rowItems_.clear();
  for (int row = 0; row < tree_->rowCount(item); ++row) {
    const QModelIndex child = tree_->index(row, 0, item);
    if (tree_->payload(child) == 0) continue;  // a category, not a carved file
    quorvel::CheckListRow listRow;
    listRow.texts = {tree_->data(child).toString()};
    listRow.icon = tree_->data(child, Qt::DecorationRole).value<QIcon>();
    listRow.payload = tree_->payload(child);
    list_->addRow(listRow, tree_->isChecked(child));
    rowItems_.emplace_back(child);
  }
}

void RawRecoveryDialog::listRowToggled(int row, bool checked) {
  if (row < 0 || static_cast<std::size_t>(row) >= rowItems_.size()) return;
  tree_->applyCheck(rowItems_[static_cast<std::size_t>(row)], checked);
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

// One file per checked carved file, named after its item, read in bounded pieces.
void RawRecoveryDialog::save() {
  if (busy_) {
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
  std::vector<quorvel::raw::CarvedFile> chosen;
  for (const std::size_t index : files) chosen.push_back(carved_.at(index));
  startJob([view = view_, chosen = std::move(chosen), folder = *folder](quorvel::JobContext& job) {
    job.setProgressRange(0, static_cast<std::int64_t>(chosen.size()));
    std::size_t failed = 0, done = 0;
    for (const quorvel::raw::CarvedFile& file : chosen) {
      if (!job.checkpoint()) break;
      job.setStatus("saving File  " + (folder / file.name).string());
      if (!quorvel::raw::saveCarvedFile(view, file, folder)) ++failed;
      job.setProgress(static_cast<std::int64_t>(++done));
    }
    if (failed > 0) job.setStatus(std::to_string(failed) + " files could not be saved whole.");
    job.showMessage(quorvel::kWorkDone);
  });
}

#include "VolumeScanDlg.h"

#include <QHeaderView>
#include <algorithm>

#include "DesktopServices.h"
#include "GuiJobBridge.h"
#include "WizardState.h"
#include "logic/ScanScreenRules.h"
#include "session/OpenImage.h"
#include "session/Saving.h"
#include "session/ScanSession.h"
#include "session/Search.h"
#include "ui/qt/CheckHeaderView.h"
#include "ui/qt/CheckListModel.h"
#include "ui/qt/CheckTreeModel.h"
#include "ui/qt/ListFollowingTree.h"
#include "ui_VolumeScanDlg.h"

using quorvel::EntryId;

namespace {

constexpr const char* kStopPressed = "stop button pressed.Please wait for the process to be stopped.";

// What a tree item or list row refers to: an entry as its id + 1, the top
// item as a value no id reaches, nothing as 0.
constexpr quint64 kTopItem = quint64(1) << 32;

quint64 payloadOf(EntryId id) { return quint64(id) + 1; }

std::optional<EntryId> entryOf(quint64 payload) {
  if (payload == 0 || payload >= kTopItem) return std::nullopt;
  return static_cast<EntryId>(payload - 1);
}

QString qText(const std::string& text) { return QString::fromStdString(text); }

QStringList qTexts(const std::vector<std::string>& texts) {
  QStringList list;
  for (const std::string& text : texts) list << qText(text);
  return list;
}

}  // namespace

VolumeScanDlg::VolumeScanDlg(quorvel::OpenImage& image, quorvel::RecoveryMode mode, QWidget* parent)
    : WizardScreen(image, parent),
      ui_(std::make_unique<Ui::VolumeScanDlg>()),
      volume_(image.chosen().value_or(quorvel::VolumeRecord())),
      mode_(mode),
      bridge_(new GuiJobBridge(this)),
      runner_(bridge_) {
  setUpScreen();
  quorvel::AdvancedChoices choices;
  choices.formatted = wizardState().driveFormatted;
  startScan(choices);
}

VolumeScanDlg::VolumeScanDlg(quorvel::OpenImage& image, const quorvel::AdvancedChoices& choices, QWidget* parent)
    : WizardScreen(image, parent),
      ui_(std::make_unique<Ui::VolumeScanDlg>()),
      volume_(image.chosen().value_or(quorvel::VolumeRecord())),
      mode_(quorvel::RecoveryMode::Advanced),
      session_(image.session()),
      bridge_(new GuiJobBridge(this)),
      runner_(bridge_) {
  setUpScreen();
  startScan(choices);
}

VolumeScanDlg::~VolumeScanDlg() {
  // A worker waiting for the screen is released before it is joined.
  bridge_->detach();
  runner_.end();
  runner_.wait();
  if (ownSession_) image().endSession(session_.get());
}

void VolumeScanDlg::setUpScreen() {
  ui_->setupUi(this);
  setUpHelp(ui_->helpButton, ui_->link);
  ui_->searchHint->setText(quorvel::kSearchHint);
  ui_->volumeData->setText(qText(wizard::volumeDataText(volume_)));

  tree_ = new quorvel::CheckTreeModel(this);
  tree_->setChildrenSupplier([this](const QModelIndex& folder) { return childItems(folder); });
  ui_->resultsTree->setModel(tree_);

  QStringList columns;
  for (const char* column : wizard::kListColumns) columns << column;
  list_ = new quorvel::CheckListModel(columns, this);
  ui_->fileList->setHorizontalHeader(new quorvel::CheckHeaderView(Qt::Horizontal, ui_->fileList));
  ui_->fileList->setModel(list_);
  ui_->fileList->verticalHeader()->hide();
  rows_ = new quorvel::ListFollowingTree(*tree_, *list_, this);
  // At least wide enough for the column's title and its box.
  const int widths[] = {80, 90, 90, 90, 80, 70};
  for (int column = 0; column < 6; ++column)
    ui_->fileList->setColumnWidth(column,
                                  std::max(widths[column], ui_->fileList->horizontalHeader()->sectionSizeHint(column)));
  ui_->resultsSplitter->setStretchFactor(0, 1);
  ui_->resultsSplitter->setStretchFactor(1, 2);
  ui_->fileList->horizontalHeader()->setStretchLastSection(true);

  ui_->jobPanel->attach(*bridge_, runner_);
  ui_->jobPanel->setStopText(kStopPressed);
  bridge_->onMessage = [this](const QString& text) { jobMessage(text); };

  connect(ui_->resultsTree, &QTreeView::clicked, this, &VolumeScanDlg::fillList);
  connect(ui_->resultsTree, &QTreeView::doubleClicked, this, [this](const QModelIndex& item) {
    const std::optional<EntryId> entry = entryAt(item);
    if (entry && session_ && !session_->parser().isFolder(*entry)) saveOneFile(*entry);
  });
  connect(ui_->fileList, &QTableView::doubleClicked, this, [this](const QModelIndex& row) {
    const std::optional<EntryId> entry = entryOf(list_->payload(row.row()));
    if (entry && session_ && !session_->parser().isFolder(*entry)) saveOneFile(*entry);
  });
  connect(ui_->browseButton, &QPushButton::clicked, this, &VolumeScanDlg::browseOutput);
  connect(ui_->saveButton, &QPushButton::clicked, this, &VolumeScanDlg::save);
  connect(ui_->searchButton, &QPushButton::clicked, this, &VolumeScanDlg::search);
  connect(ui_->backButton, &QPushButton::clicked, this, &WizardScreen::goBack);
  showJobRunning(true);
}

// ---------------------------------------------------------------- jobs

void VolumeScanDlg::startScan(const quorvel::AdvancedChoices& choices) {
  if (session_) {
    session_->choose(choices);
  } else {
    std::unique_ptr<quorvel::FileSystemParser> parser = quorvel::parserFor(volume_.fileSystem, mode_);
    if (!parser) {
      desktop().plainMessage(this, quorvel::kNotValidDrive);
      ui_->jobPanel->setStatus(quorvel::kNotValidDriveStatus);
      cannotScan();
      return;
    }
    session_ = image().beginSession(quorvel::scanRequestFor(volume_, mode_, choices), std::move(parser));
    ownSession_ = true;
  }
  const quorvel::FileReadSeek* source = image().source();
  if (!source) {
    const wizard::ScreenMessage message = wizard::missingSourceMessage(volume_.fileSystem);
    if (message.captioned)
      desktop().information(this, qText(message.text));
    else
      desktop().plainMessage(this, qText(message.text));
    cannotScan();
    return;
  }
  const std::string status = wizard::choosingStatus(volume_.fileSystem);
  if (!status.empty()) ui_->jobPanel->setStatus(qText(status));

  startJob(Job::Scan, [this, session = session_, source](quorvel::JobContext& job) {
    // The tree is shown once the catalogue is complete, behind the message
    // that says so. A volume that could not be parsed has no tree; the
    // parser said why.
    session->run(*source, job, [this] { bridge_->run([this] { showResults(); }); });
  });
}

// Nothing to scan: the user can only go back.
void VolumeScanDlg::cannotScan() {
  job_ = Job::None;
  showJobRunning(false);
}

void VolumeScanDlg::startJob(Job job, std::function<void(quorvel::JobContext&)> work) {
  job_ = job;
  showJobRunning(true);
  ui_->jobPanel->restartProgress();
  ::startJob(runner_, *bridge_, std::move(work), [this] { finishJob(); });
}

void VolumeScanDlg::finishJob() {
  job_ = Job::None;
  showJobRunning(false);
  emit jobFinished();
}

void VolumeScanDlg::showJobRunning(bool running) {
  ui_->jobPanel->setJobRunning(running);
  ui_->backButton->setEnabled(!running);
  // While a job reads the catalogue, nothing else may: the results wait.
  const bool browsable = !running && scanned_;
  for (QWidget* control : {static_cast<QWidget*>(ui_->resultsTree), static_cast<QWidget*>(ui_->fileList),
                           static_cast<QWidget*>(ui_->saveButton), static_cast<QWidget*>(ui_->searchButton)})
    control->setEnabled(browsable);
}

void VolumeScanDlg::jobMessage(const QString& text) {
  if (job_ != Job::Scan) {
    desktop().plainMessage(this, text);
    return;
  }
  desktop().information(this, text);
}

void VolumeScanDlg::beforeProcessEnds() { ui_->jobPanel->stopBeforeExit(); }

// ---------------------------------------------------------------- tree and list

void VolumeScanDlg::showResults() {
  if (scanned_ || !session_) return;
  scanned_ = true;
  rows_->clear();
  searchFolders_.clear();
  searchResults_ = false;
  tree_->clear();
  quorvel::CheckTreeItem top;
  top.text = wizardState().rootFolderName;
  top.icon = icons_.folder();
  top.payload = kTopItem;
  top.hasChildren = !session_->parser().topEntries().empty();
  const QModelIndex root = tree_->appendItem({}, top);
  tree_->fetchMore(root);
  ui_->resultsTree->expand(root);
}

std::vector<quorvel::CheckTreeItem> VolumeScanDlg::childItems(const QModelIndex& folder) {
  std::vector<quorvel::CheckTreeItem> items;
  if (!session_) return items;
  const quorvel::FileSystemParser& parser = session_->parser();
  std::vector<EntryId> ids;
  if (isTopItem(folder)) {
    ids = parser.topEntries();
  } else if (const std::optional<EntryId> entry = entryAt(folder); entry && parser.isFolder(*entry)) {
    ids = parser.children(*entry);
  }
  items.reserve(ids.size());
  for (const EntryId id : ids) {
    quorvel::CheckTreeItem item;
    item.text = qText(parser.name(id));
    const bool folderEntry = parser.isFolder(id);
    item.icon = folderEntry ? icons_.folder() : icons_.forFileName(item.text);
    item.deleted = parser.isDeleted(id);
    item.payload = payloadOf(id);
    item.hasChildren = folderEntry && !parser.children(id).empty();
    items.push_back(std::move(item));
  }
  return items;
}

std::optional<EntryId> VolumeScanDlg::entryAt(const QModelIndex& item) const { return entryOf(tree_->payload(item)); }

bool VolumeScanDlg::isTopItem(const QModelIndex& item) const { return tree_->payload(item) == kTopItem; }

void VolumeScanDlg::fillList(const QModelIndex& item) {
  if (job_ != Job::None || !scanned_ || !item.isValid()) return;
  const quorvel::FileSystemParser& parser = session_->parser();
  const std::optional<EntryId> entry = entryAt(item);
  if (!isTopItem(item) && !entry) return;
  const bool folder = !entry || parser.isFolder(*entry);
  if (!folder && !parser.getsListRow(*entry)) return;

  rows_->clear();
  searchFolders_.clear();
  searchResults_ = false;
  if (!folder) {
    addListRow(item);
    return;
  }
  if (tree_->canFetchMore(item)) tree_->fetchMore(item);
  for (int row = 0; row < tree_->rowCount(item); ++row) {
    const QModelIndex child = tree_->index(row, 0, item);
    const std::optional<EntryId> id = entryAt(child);
    if (id && parser.getsListRow(*id)) addListRow(child);
  }
}

void VolumeScanDlg::addListRow(const QModelIndex& item) {
  const EntryId id = *entryAt(item);
  quorvel::CheckListRow row;
  row.texts = qTexts(wizard::listRowTexts(session_->parser(), id, tree_->data(item).toString().toStdString()));
  row.icon = tree_->data(item, Qt::DecorationRole).value<QIcon>();
  row.payload = payloadOf(id);
  row.toolTip = qText(wizard::listRowToolTip(session_->parser(), id));
  rows_->addRow(item, row);
}

// ---------------------------------------------------------------- saving

std::optional<std::filesystem::path> VolumeScanDlg::outputFolder() {
  std::optional<std::filesystem::path> folder = quorvel::outputFolderFromText(ui_->outputEdit->text().toStdString());
  if (!folder) desktop().plainMessage(this, quorvel::kSelectOutputFolder);
  return folder;
}

void VolumeScanDlg::browseOutput() {
  const QString folder = desktop().existingFolder(this, "Select output folder");
  if (!folder.isEmpty()) ui_->outputEdit->setText(folder);
}

std::vector<quorvel::SaveTarget> VolumeScanDlg::checkedTargets() const {
  const quorvel::FileSystemParser& parser = session_->parser();
  std::vector<quorvel::SaveTarget> targets;
  for (const QModelIndex& item : tree_->topmostChecked()) {
    if (isTopItem(item)) {
      targets.push_back({std::nullopt, {}});
      continue;
    }
    const std::optional<EntryId> entry = entryAt(item);
    if (!entry) continue;
    std::vector<EntryId> ancestors;
    for (QModelIndex up = item.parent(); up.isValid() && !isTopItem(up); up = up.parent())
      if (const std::optional<EntryId> folder = entryAt(up)) ancestors.insert(ancestors.begin(), *folder);
    targets.push_back(quorvel::checkedTarget(parser, ancestors, entry));
  }
  if (searchResults_) {
    for (int row = 0; row < list_->rowCount(); ++row) {
      const std::optional<EntryId> entry = entryOf(list_->payload(row));
      if (entry && list_->isRowChecked(row))
        targets.push_back({entry, searchFolders_.at(static_cast<std::size_t>(row))});
    }
  }
  return targets;
}

std::optional<quorvel::SaveTarget> VolumeScanDlg::selectedTarget() const {
  const QModelIndex item = ui_->resultsTree->currentIndex();
  if (!item.isValid()) return std::nullopt;
  if (isTopItem(item)) return quorvel::SaveTarget{std::nullopt, {}};
  const std::optional<EntryId> entry = entryAt(item);
  if (!entry) return std::nullopt;
  return quorvel::SaveTarget{entry, {}};
}

void VolumeScanDlg::save() {
  if (job_ != Job::None) {
    desktop().plainMessage(this, quorvel::kWaitForOtherProcess);
    return;
  }
  const std::optional<std::filesystem::path> folder = outputFolder();
  if (!folder || !scanned_) return;
  std::vector<quorvel::SaveTarget> targets = checkedTargets();
  if (targets.empty()) {
    const std::optional<quorvel::SaveTarget> selected = selectedTarget();
    if (!selected) return;
    targets.push_back(*selected);
  }
  startJob(Job::Save, [this, session = session_, targets, folder = *folder](quorvel::JobContext& job) {
    quorvel::SavePlan plan(session->parser(), targets);
    const std::uint64_t files = plan.fileCount(job);
    bool confirmed = false;
    // A Stop pressed before the question is up means no question at all.
    bridge_->run([this, files, &confirmed, &job] {
      if (!job.stopRequested()) confirmed = desktop().question(this, qText(quorvel::saveQuestion(files)));
    });
    if (!confirmed) return;
    const quorvel::SaveSummary summary = plan.run(folder, job);
    if (summary.filesFailed > 0)
      job.setStatus(std::to_string(summary.filesFailed) + " files could not be saved whole.");
    job.showMessage(quorvel::kWorkDone);
  });
}

void VolumeScanDlg::saveOneFile(EntryId id) {
  if (job_ != Job::None) {
    desktop().plainMessage(this, quorvel::kWaitForOtherProcess);
    return;
  }
  const std::optional<std::filesystem::path> folder = outputFolder();
  if (!folder || !scanned_) return;
  startJob(Job::Save, [session = session_, id, folder = *folder](quorvel::JobContext& job) {
    const quorvel::FileSystemParser& parser = session->parser();
    const quorvel::SaveSummary summary = quorvel::SavePlan(parser, {quorvel::SaveTarget{id, {}}}).run(folder, job);
    const std::string path = summary.firstFile.value_or(folder / quorvel::safeOutputName(parser.name(id))).string();
    const bool saved = summary.firstFile && summary.filesSaved == 1;
    job.showMessage(saved ? wizard::fileDumpedMessage(path) : wizard::fileNotDumpedMessage(path));
  });
}

// ---------------------------------------------------------------- search

void VolumeScanDlg::search() {
  if (job_ != Job::None || !scanned_) return;
  const QString pattern = ui_->searchEdit->text();
  wizardState().searchText = pattern;
  rows_->clear();
  searchFolders_.clear();
  searchResults_ = true;
  startJob(Job::Search, [this, session = session_, pattern = pattern.toStdString()](quorvel::JobContext& job) {
    const quorvel::FileSystemParser& parser = session->parser();
    quorvel::runSearch(parser, pattern, job, [&](const quorvel::SearchHit& hit) {
      std::string name = parser.name(hit.id);
      std::vector<std::string> folders = wizard::hitFolders(hit.path, name);
      bridge_->run([this, texts = wizard::listRowTexts(parser, hit.id, hit.path), name = std::move(name), id = hit.id,
                    folders = std::move(folders)]() mutable { addSearchRow(texts, name, id, std::move(folders)); });
    });
  });
}

void VolumeScanDlg::addSearchRow(const std::vector<std::string>& texts, const std::string& name, EntryId id,
                                 std::vector<std::string> folders) {
  quorvel::CheckListRow row;
  row.texts = qTexts(texts);
  row.icon = icons_.forFileName(qText(name));
  row.payload = payloadOf(id);
  row.toolTip = qText(wizard::listRowToolTip(session_->parser(), id));
  list_->addRow(row);
  searchFolders_.push_back(std::move(folders));
}

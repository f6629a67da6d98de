#include "PopulateDriveDlg.h"

#include <QHeaderView>
#include <algorithm>

#include "DesktopServices.h"
#include "GuiJobBridge.h"
#include "RecoveryModeScreen.h"
#include "WizardState.h"
#include "session/OpenImage.h"
#include "ui_PopulateDriveDlg.h"
#include "volumes/VolumeList.h"
#if __has_include("RawRecoveryDialog.h")
#include "RawRecoveryDialog.h"
#define QUORVEL_HAS_RAW_RECOVERY 1
#endif

namespace {

constexpr const char* kFinished = "Finished Scanning.";
constexpr const char* kSelectVolume = "Select volume and click next button...";
constexpr const char* kFileNotOpened = "file not opened..";

QString qText(const std::string& text) { return QString::fromStdString(text); }

}  // namespace

PopulateDriveDlg::PopulateDriveDlg(quorvel::OpenImage& image, wizard::VolumeListRequest request, QWidget* parent)
    : WizardScreen(image, parent),
      ui_(std::make_unique<Ui::PopulateDriveDlg>()),
      request_(std::move(request)),
      rows_(request_.mode),
      bridge_(new GuiJobBridge(this)) {
  ui_->setupUi(this);
  setUpHelp(ui_->helpButton, ui_->link);

  QTableWidget* table = ui_->volumeTable;
  table->setColumnCount(4);
  table->setHorizontalHeaderLabels({"VOLUME", "FILE_SYSTEM", "VOLUME_SIZE", "START_SECTOR"});
  // The narrowest widths; a caption never gets cut off.
  const int widths[] = {80, 80, 80, 100};
  for (int column = 0; column < 4; ++column)
    table->setColumnWidth(column, std::max(widths[column], table->horizontalHeader()->sectionSizeHint(column)));
  table->horizontalHeader()->setStretchLastSection(true);
  for (const std::string& entry : wizard::treatAsEntries()) ui_->treatAsCombo->addItem(qText(entry));
  ui_->treatAsCombo->setCurrentIndex(-1);
  ui_->customCheck->setEnabled(false);
  setCustomControlsEnabled(false);
  ui_->addCustomButton->setEnabled(false);

  bridge_->onStatus = [this](const QString& text) { ui_->statusLine->setText(text); };
  ui_->progressBar->follow(*bridge_);
  bridge_->onMessage = [this](const QString& text) { desktop().information(this, text); };

  connect(table, &QTableWidget::itemSelectionChanged, this, &PopulateDriveDlg::selectionChanged);
  connect(table, &QTableWidget::cellClicked, this, [this](int row, int) { rowClicked(row); });
  connect(ui_->customCheck, &QCheckBox::toggled, this, &PopulateDriveDlg::setCustomControlsEnabled);
  connect(ui_->addCustomButton, &QPushButton::clicked, this, &PopulateDriveDlg::addCustomVolume);
  connect(ui_->filterButton, &QPushButton::clicked, this, &PopulateDriveDlg::filterEntries);
  connect(ui_->stopButton, &QPushButton::clicked, this, &PopulateDriveDlg::stop);
  connect(ui_->backButton, &QPushButton::clicked, this, &WizardScreen::goBack);
  connect(ui_->nextButton, &QPushButton::clicked, this, &PopulateDriveDlg::next);

  // A disk image is listed from its own opening; an image open before
  // (a volume image, an earlier disk) goes.
  if (wizardState().diskImageMode) image.close();
  if (request_.mode == wizard::ListingMode::Standard) {
    ui_->progressBar->setJobRange(0, 1000);
    runStandardListing();
    ui_->progressBar->setJobPosition(1000);
  } else {
    startAdvancedScan();
  }
}

PopulateDriveDlg::~PopulateDriveDlg() {
  // A waiting worker is released before it is joined.
  bridge_->detach();
  if (scan_) {
    scan_->end();
    scan_->wait();
  }
}

void PopulateDriveDlg::runStandardListing() {
  ui_->addCustomButton->hide();
  quorvel::JobContext job(bridge_);
  quorvel::VolumeList partition(job);
  partition.readGpt = request_.gpt;
  // Off the disk-image road only an image opened before can be listed.
  if (!wizardState().diskImageMode && !image().isOpen()) {
    desktop().information(this, "information lost ..go back and parse again");
    ui_->progressBar->hide();
    ui_->stopButton->hide();
    return;
  }
  if (openImageFile(image(), qText(request_.imagePath))) {
    rows_.clear();
    showRows();
    // Volumes read before a failed read are listed all the same.
    if (quorvel::listVolumes(*image().source(), partition) != 0)
      desktop().information(this, "Cannot read the partition tables of this image.");
    image().setVolumes(partition.volumes);
    rows_.setListed(partition.volumes);
    showRows();
    if (!rows_.volumes().empty()) ui_->customCheck->setEnabled(true);
  } else {
    desktop().information(this, kFileNotOpened);
  }
  ui_->filterButton->setEnabled(true);
  finishListing();
}

void PopulateDriveDlg::startAdvancedScan() {
  ui_->addCustomButton->setEnabled(false);
  ui_->nextButton->setEnabled(false);
  const bool openable = wizardState().diskImageMode || image().isOpen();
  if (!openable || !openImageFile(image(), qText(request_.imagePath))) {
    ui_->nextButton->setEnabled(true);
    desktop().information(this, kFileNotOpened);
    // Nothing runs, so there is nothing to stop.
    ui_->progressBar->hide();
    ui_->stopButton->hide();
    return;
  }
  rows_.clear();
  showRows();
  ui_->backButton->setEnabled(false);
  ui_->filterButton->setEnabled(false);  // it reads the list the scan appends to

  const bool skipVolumeSize = !request_.doNotSkip;
  const bool customRange = request_.customEnd >= 0;
  const std::int64_t start = request_.customStart;
  const std::int64_t end = request_.customEnd;
  const quorvel::FileReadSeek* source = image().source();
  scan_ = std::make_unique<quorvel::JobRunner>(bridge_);
  scan_->start([=, this](quorvel::JobContext& job) {
    quorvel::VolumeList partition(job);
    partition.skipVolumeSize = skipVolumeSize;
    if (customRange) {
      partition.scanStartSector = start;
      partition.scanEndSector = end;
    }
    partition.volumeAdded = [this](const quorvel::VolumeRecord& volume) {
      bridge_->run([this, volume] { addFoundVolume(volume); });
    };
    quorvel::scanForVolumes(*source, partition);
    bridge_->run([this] { finishAdvancedScan(); });
  });
}

void PopulateDriveDlg::addFoundVolume(const quorvel::VolumeRecord& volume) {
  image().addVolume(volume);
  rows_.addFound(volume);
  insertTableRow(0, rows_.rows().front());
}

void PopulateDriveDlg::finishAdvancedScan() {
  ui_->backButton->setEnabled(true);
  ui_->statusLine->setText("Scanned Partitions");
  desktop().information(this, "populated partitions....");
  ui_->filterButton->setEnabled(true);
  if (!rows_.volumes().empty()) ui_->customCheck->setEnabled(true);
  ui_->addCustomButton->setEnabled(true);
  ui_->nextButton->setEnabled(true);
  finishListing();
}

void PopulateDriveDlg::finishListing() {
  ui_->statusLine->setText(kFinished);
  ui_->progressBar->hide();
  ui_->stopButton->hide();
  ui_->statusLine->setText(kSelectVolume);
  emit listingFinished();
}

void PopulateDriveDlg::stop() {
  if (scan_) scan_->stop();
  ui_->backButton->setEnabled(true);
}

void PopulateDriveDlg::showRows() {
  ui_->volumeTable->setRowCount(0);
  const std::vector<wizard::VolumeRow>& rows = rows_.rows();
  for (std::size_t i = 0; i < rows.size(); ++i) insertTableRow(static_cast<int>(i), rows[i]);
}

void PopulateDriveDlg::insertTableRow(int at, const wizard::VolumeRow& row) {
  QTableWidget* table = ui_->volumeTable;
  table->insertRow(at);
  for (int column = 0; column < 4; ++column) {
    auto* item = new QTableWidgetItem(qText(row.texts[static_cast<std::size_t>(column)]));
    item->setToolTip(item->text());
    table->setItem(at, column, item);
  }
}

int PopulateDriveDlg::selectedRow() const {
  const QList<QTableWidgetSelectionRange> ranges = ui_->volumeTable->selectedRanges();
  return ranges.isEmpty() ? -1 : ranges.first().topRow();
}

void PopulateDriveDlg::selectionChanged() {
  const int row = selectedRow();
  if (row < 0) return;
  const wizard::VolumeRow& shown = rows_.rows().at(static_cast<std::size_t>(row));
  const wizard::SectorRange range = wizard::rangeOfRow(shown);
  ui_->selectedValue->setText(QString::number(row));
  ui_->startEdit->setSectorText(qText(shown.texts[3]));
  ui_->endEdit->setSectorText(QString::number(range.end));
}

void PopulateDriveDlg::rowClicked(int row) {
  if (row < 0 || static_cast<std::size_t>(row) >= rows_.rows().size()) return;
  const int entry = wizard::treatAsEntryFor(rows_.rows()[static_cast<std::size_t>(row)].texts[1]);
  if (entry >= 0) ui_->treatAsCombo->setCurrentIndex(entry);
}

void PopulateDriveDlg::setCustomControlsEnabled(bool enabled) {
  for (QWidget* control : {static_cast<QWidget*>(ui_->selectedCaption), static_cast<QWidget*>(ui_->selectedValue),
                           static_cast<QWidget*>(ui_->startCaption), static_cast<QWidget*>(ui_->startEdit),
                           static_cast<QWidget*>(ui_->endCaption), static_cast<QWidget*>(ui_->endEdit),
                           static_cast<QWidget*>(ui_->treatAsCaption), static_cast<QWidget*>(ui_->treatAsCombo)})
    control->setEnabled(enabled);
}

void PopulateDriveDlg::addCustomVolume() {
  ui_->customCheck->setEnabled(true);
  ui_->customCheck->setChecked(true);
  setCustomControlsEnabled(true);
  const int row = rows_.addCustom();
  insertTableRow(row, rows_.rows().at(static_cast<std::size_t>(row)));
  ui_->volumeTable->selectRow(row);
  ui_->volumeTable->setCurrentCell(row, 0);
  ui_->startEdit->setSectorText("0");
  ui_->endEdit->setSectorText("0");
}

void PopulateDriveDlg::filterEntries() {
  rows_.filter();
  showRows();
}

void PopulateDriveDlg::next() {
  const int row = selectedRow();
  wizard::CustomSetting custom;
  custom.ticked = ui_->customCheck->isChecked();
  custom.startText = ui_->startEdit->sectorText().toStdString();
  custom.endText = ui_->endEdit->sectorText().toStdString();
  if (ui_->treatAsCombo->currentIndex() >= 0) custom.treatAs = ui_->treatAsCombo->currentText().toStdString();

  switch (rows_.next(row, custom)) {
    case wizard::NextStep::NoSelection:
      desktop().information(this, "please select a valid volume.");
      return;
    case wizard::NextStep::UnknownVolume:
      desktop().information(this, "can not parse unknown volume");
      return;
    case wizard::NextStep::RawRecovery: {
#ifdef QUORVEL_HAS_RAW_RECOVERY
      image().choose(rows_.record(row));
      auto* raw = new RawRecoveryDialog(image(), this);
      raw->setOpener(Opener::VolumeList);
      openNext(raw);
#else
      desktop().information(this, "Raw recovery is not part of this build.");
#endif
      return;
    }
    case wizard::NextStep::RecoveryMode: {
      image().choose(rows_.record(row));
      auto* mode = new RecoveryModeScreen(image(), this);
      mode->setOpener(Opener::VolumeList);
      openNext(mode);
      return;
    }
  }
}

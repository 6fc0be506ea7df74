#include "MakeImageDialog.h"

#include <QApplication>
#include <QCheckBox>
#include <QCoreApplication>
#include <QDateEdit>
#include <QDateTime>
#include <QDir>
#include <QEventLoop>
#include <QFileDialog>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>
#include <QRegularExpression>
#include <QRegularExpressionValidator>
#include <QStandardPaths>
#include <limits>

#include "HiddenEntriesDialog.h"
#include "controls/DialogUnits.h"
#include "controls/TitleRoom.h"

namespace umbra {

namespace {

const QString kCaption = QStringLiteral("Umbradisc");
constexpr int kMaxTextLength = 256;
const QString kTooLongMessage = QStringLiteral("Please enter no more than %1 characters.");
const QString kProgressText = QStringLiteral("Making the CD image file...");

const QString kBootFileFilter = QStringLiteral("Binary executable boot files (*.bin);;All Files (*.*)");
const QString kBootFileInitialName = QStringLiteral("boot.bin");
const QString kTargetFilter = QStringLiteral("Standard CD Image Files (*.iso);;All Files (*.*)");
const QString kTargetInitialName = QStringLiteral("CDImage.iso");
const QString kTargetSuffix = QStringLiteral("iso");

// Template 108, in dialog units.
const QSize kDialogSize(295, 171);
const QRect kOkRect(7, 150, 50, 14);
const QRect kCancelRect(238, 150, 50, 14);
const QRect kLabelEditRect(95, 21, 177, 14);
const QRect kPickerRect(95, 44, 177, 14);
const QRect kLabelTextRect(21, 22, 61, 8);
const QRect kTimeTextRect(21, 44, 39, 8);
const QRect kSourceEditRect(95, 90, 163, 14);
const QRect kSourceTextRect(21, 92, 48, 8);
const QRect kTargetTextRect(21, 115, 68, 8);
const QRect kTargetEditRect(95, 113, 163, 14);
const QRect kBootCheckRect(21, 67, 67, 10);
const QRect kBootEditRect(95, 67, 163, 14);
const QRect kBrowseSourceRect(260, 90, 12, 14);
const QRect kBrowseBootRect(260, 67, 12, 14);
const QRect kBrowseTargetRect(260, 113, 12, 14);
const QRect kGroupRect(7, 7, 281, 134);
const QRect kHiddenRect(95, 150, 100, 14);  // between OK and Cancel
constexpr int kFieldColumn = 95;  // left edge of the fields; captions end before it

constexpr int kFirstCalendarYear = 1900;  // earlier dates stand for the time value 0

// Puts a control at its place in dialog units, under its object name.
void place(const DialogUnits& units, QWidget* widget, const QRect& du, const char* name) {
  widget->setGeometry(units.rect(du.x(), du.y(), du.width(), du.height()));
  widget->setObjectName(QLatin1String(name));
}

// A caption grows to its whole text where this system's face runs wider than the template's, up to
// the field column, and keeps its row's middle.
void placeCaption(const DialogUnits& units, QWidget* widget, const QRect& du, const char* name) {
  place(units, widget, du, name);
  QRect area = widget->geometry();
  const QSize wanted = widget->sizeHint();
  area.setWidth(qBound(area.width(), wanted.width(), units.x(kFieldColumn) - area.x()));
  if (wanted.height() > area.height()) {
    area.adjust(0, -(wanted.height() - area.height()) / 2, 0, 0);
    area.setHeight(wanted.height());
  }
  widget->setGeometry(area);
}

// The locale's short date, always with a four-digit year so any year can be typed.
QString shortDateWithWholeYear() {
  QString format = QLocale().dateFormat(QLocale::ShortFormat);
  if (!format.contains(QLatin1String("yyyy"))) format.replace(QLatin1String("yy"), QLatin1String("yyyy"));
  return format;
}

}  // namespace

MakeImageDialog::MakeImageDialog(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      m_time(QDateTime::currentSecsSinceEpoch()),
      m_programFolder(QCoreApplication::applicationDirPath()),
      m_icon(QApplication::windowIcon()),
      m_timeOfDay(QDateTime::fromSecsSinceEpoch(m_time).time()) {
  setWindowTitle(kCaption);
  setWindowIcon(m_icon);
  setFont(QFont(QStringLiteral("Arial"), 8));
  createControls();
  exchangeValues(false);
  m_editBootFile->setEnabled(false);
  m_browseBootFileButton->setEnabled(false);
}

void MakeImageDialog::createControls() {
  const DialogUnits units(font());
  setFixedSize(units.size(kDialogSize.width(), kDialogSize.height()));

  // Created first so it lies beneath the fields it frames.
  place(units, new QGroupBox(this), kGroupRect, "frame");

  auto* ok = new QPushButton(QStringLiteral("OK"), this);
  place(units, ok, kOkRect, "okButton");
  ok->setDefault(true);
  connect(ok, &QPushButton::clicked, this, &MakeImageDialog::accept);
  auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
  place(units, cancel, kCancelRect, "cancelButton");
  connect(cancel, &QPushButton::clicked, this, &MakeImageDialog::reject);

  createFields(units);
  createBrowseButtons(units);

  const QList<QWidget*> tabOrder = {ok,
                                    cancel,
                                    m_editLabel,
                                    m_dateTime,
                                    m_editSource,
                                    m_editTarget,
                                    m_checkBootSector,
                                    m_editBootFile,
                                    m_browseSourceButton,
                                    m_browseBootFileButton,
                                    m_browseTargetButton,
                                    m_hiddenButton};
  for (qsizetype i = 1; i < tabOrder.size(); ++i) setTabOrder(tabOrder[i - 1], tabOrder[i]);
}

void MakeImageDialog::createFields(const DialogUnits& units) {
  // Typing stops at the limit; a longer text put in by a browse button is caught on OK.
  auto* lengthLimit = new QRegularExpressionValidator(
      QRegularExpression(QStringLiteral(".{0,%1}").arg(kMaxTextLength), QRegularExpression::DotMatchesEverythingOption),
      this);
  const auto makeEdit = [&](const QRect& du, const char* name) {
    auto* edit = new QLineEdit(this);
    place(units, edit, du, name);
    edit->setValidator(lengthLimit);
    return edit;
  };
  m_editLabel = makeEdit(kLabelEditRect, "labelEdit");
  m_dateTime = new QDateEdit(this);
  place(units, m_dateTime, kPickerRect, "timeStampPicker");
  m_dateTime->setCalendarPopup(true);
  m_dateTime->setDisplayFormat(shortDateWithWholeYear());
  placeCaption(units, new QLabel(QStringLiteral("CD Volume Label:"), this), kLabelTextRect, "labelText");
  placeCaption(units, new QLabel(QStringLiteral("Time stamp:"), this), kTimeTextRect, "timeStampText");
  m_editSource = makeEdit(kSourceEditRect, "sourceEdit");
  placeCaption(units, new QLabel(QStringLiteral("Source Folder:"), this), kSourceTextRect, "sourceText");
  placeCaption(units, new QLabel(QStringLiteral("Target CD Image File:"), this), kTargetTextRect, "targetText");
  m_editTarget = makeEdit(kTargetEditRect, "targetEdit");
  m_checkBootSector = new QCheckBox(QStringLiteral("Boot Sector File"), this);
  placeCaption(units, m_checkBootSector, kBootCheckRect, "bootSectorCheck");
  connect(m_checkBootSector, &QCheckBox::clicked, this, &MakeImageDialog::onBootSectorClicked);
  m_editBootFile = makeEdit(kBootEditRect, "bootFileEdit");
  connect(m_editSource, &QLineEdit::textChanged, this, &MakeImageDialog::sourceChanged);
}

void MakeImageDialog::createBrowseButtons(const DialogUnits& units) {
  const auto makeBrowse = [&](const QRect& du, const char* name, void (MakeImageDialog::*slot)()) {
    auto* button = new QPushButton(QStringLiteral("..."), this);
    place(units, button, du, name);
    connect(button, &QPushButton::clicked, this, slot);
    return button;
  };
  m_browseSourceButton = makeBrowse(kBrowseSourceRect, "browseSourceButton", &MakeImageDialog::onBrowseSource);
  m_browseBootFileButton = makeBrowse(kBrowseBootRect, "browseBootFileButton", &MakeImageDialog::onBrowseBootFile);
  m_browseTargetButton = makeBrowse(kBrowseTargetRect, "browseTargetButton", &MakeImageDialog::onBrowseTarget);
  m_hiddenButton = new QPushButton(QString::fromLatin1(kHiddenButtonText), this);
  place(units, m_hiddenButton, kHiddenRect, "hiddenEntriesButton");
  connect(m_hiddenButton, &QPushButton::clicked, this, &MakeImageDialog::onHiddenEntries);
}

bool MakeImageDialog::takeText(QLineEdit* edit, QString& member) {
  const QString text = edit->text();
  if (text.size() > kMaxTextLength) {
    QMessageBox box(QMessageBox::Warning, QCoreApplication::applicationName(), kTooLongMessage.arg(kMaxTextLength),
                    QMessageBox::Ok, this);
    box.exec();
    edit->setFocus();
    return false;
  }
  member = text;
  return true;
}

qint64 MakeImageDialog::timeFromPicker() const {
  const QDate date = m_dateTime->date();
  if (date.year() < kFirstCalendarYear) return 0;
  const qint64 seconds = QDateTime(date, m_timeOfDay).toSecsSinceEpoch();
  // The time value is a signed 32-bit count; outside it the time is invalid.
  if (seconds < 0 || seconds > std::numeric_limits<qint32>::max()) return -1;
  return seconds;
}

bool MakeImageDialog::exchangeValues(bool takeFromControls) {
  if (!takeFromControls) {
    m_checkBootSector->setChecked(m_bootSector != 0);
    m_dateTime->setDate(QDateTime::fromSecsSinceEpoch(m_time).date());
    m_editBootFile->setText(m_bootFile);
    m_editLabel->setText(m_label);
    m_editSource->setText(m_sourceFolder);
    m_editTarget->setText(m_targetFile);
    return true;
  }
  m_bootSector = m_checkBootSector->isChecked() ? 1 : 0;
  m_time = timeFromPicker();
  return takeText(m_editBootFile, m_bootFile) && takeText(m_editLabel, m_label) &&
         takeText(m_editSource, m_sourceFolder) && takeText(m_editTarget, m_targetFile);
}

void MakeImageDialog::onBootSectorClicked() {
  const bool on = m_checkBootSector->isChecked();
  m_editBootFile->setEnabled(on);
  m_browseBootFileButton->setEnabled(on);
  m_bootSector = on ? 1 : 0;
}

void MakeImageDialog::onBrowseSource() {
  const QString folder = chooseSourceFolder();
  if (folder.isEmpty()) return;
  m_sourceFolder = QDir::toNativeSeparators(folder);
  m_editSource->setText(m_sourceFolder);
}

void MakeImageDialog::onBrowseBootFile() {
  const QString file = chooseBootFile();
  if (file.isEmpty()) return;
  m_bootFile = QDir::toNativeSeparators(file);
  m_editBootFile->setText(m_bootFile);
}

void MakeImageDialog::onBrowseTarget() {
  const QString file = chooseTargetFile();
  if (file.isEmpty()) return;
  m_targetFile = QDir::toNativeSeparators(file);
  m_editTarget->setText(m_targetFile);
}

void MakeImageDialog::onHiddenEntries() {
  if (!takeText(m_editSource, m_sourceFolder) || !filledIn(m_sourceFolder, m_editSource, kNoSourceMessage)) return;
  if (!QFileInfo(m_sourceFolder).isDir()) {
    showResult(QString::fromLatin1(kNoSourceFolderMessage).arg(QDir::toNativeSeparators(m_sourceFolder)));
    m_editSource->setFocus();
    return;
  }
  HiddenEntriesDialog dialog(m_sourceFolder, m_hiddenPaths, this);
  if (dialog.exec() != QDialog::Accepted) return;
  m_hiddenPaths = dialog.marked();
  m_hiddenSource = m_sourceFolder;
  showHiddenCount();
}

void MakeImageDialog::sourceChanged(const QString& text) {
  if (m_hiddenPaths.isEmpty() || text == m_hiddenSource) return;
  m_hiddenPaths.clear();
  showHiddenCount();
}

void MakeImageDialog::showHiddenCount() {
  m_hiddenButton->setText(m_hiddenPaths.isEmpty()
                              ? QString::fromLatin1(kHiddenButtonText)
                              : QString::fromLatin1(kHiddenButtonCountText).arg(m_hiddenPaths.size()));
}

QString MakeImageDialog::chooseSourceFolder() {
  return QFileDialog::getExistingDirectory(nullptr, QString(),
                                           QStandardPaths::writableLocation(QStandardPaths::DesktopLocation));
}

QString MakeImageDialog::chooseBootFile() {
  return QFileDialog::getOpenFileName(this, QString(), kBootFileInitialName, kBootFileFilter);
}

QString MakeImageDialog::chooseTargetFile() {
  // An instance rather than the static call, for the default ".iso" suffix: the overwrite
  // question then covers the name as completed.
  QFileDialog dialog(this, QString(), QString(), kTargetFilter);
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  // OK asks before an existing file is replaced, however its name was entered: not here as well.
  dialog.setOption(QFileDialog::DontConfirmOverwrite);
  dialog.setDefaultSuffix(kTargetSuffix);
  dialog.selectFile(kTargetInitialName);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
  return dialog.selectedFiles().constFirst();
}

QString MakeImageDialog::imageMakerProgram() const { return findImageMaker(); }

ImageMakerResult MakeImageDialog::runImageMaker(const ImageMakerParams& params) {
  ImageMakerRun run;
  run.setProgram(imageMakerProgram());
  QProgressDialog progress(kProgressText, QStringLiteral("Cancel"), 0, 100, this);
  progress.setWindowTitle(kCaption);
  progress.setWindowModality(Qt::WindowModal);
  progress.setAutoReset(false);
  progress.setAutoClose(false);
  progress.setMinimumDuration(0);
  progress.setValue(0);

  ImageMakerResult result = ImageMakerResult::Failed;
  QEventLoop loop;
  connect(&run, &ImageMakerRun::progress, &progress, &QProgressDialog::setValue);
  connect(&progress, &QProgressDialog::canceled, &run, &ImageMakerRun::cancel);
  connect(&run, &ImageMakerRun::finished, &loop, [&](ImageMakerResult outcome) {
    result = outcome;
    loop.quit();
  });
  run.start(params);
  // The window keeps repainting while the maker works.
  if (run.isRunning()) loop.exec();
  progress.close();
  m_makerError = run.errorText();
  return result;
}

void MakeImageDialog::showResult(const QString& message, const QString& detail) {
  QMessageBox box(QMessageBox::Warning, kCaption, message, QMessageBox::Ok, this);
  box.setInformativeText(detail);
  umbra::makeRoomForTitle(box);
  box.exec();
}

bool MakeImageDialog::filledIn(const QString& value, QLineEdit* edit, const char* message) {
  if (!value.trimmed().isEmpty()) return true;
  showResult(QString::fromLatin1(message));
  edit->setFocus();
  return false;
}

bool MakeImageDialog::mayReplaceTarget() {
  const QFileInfo target(m_targetFile);
  if (!target.exists()) return true;
  QMessageBox box(QMessageBox::Question, kCaption,
                  QString::fromLatin1(kReplaceQuestion).arg(QDir::toNativeSeparators(target.absoluteFilePath())),
                  QMessageBox::Yes | QMessageBox::No, this);
  box.setDefaultButton(QMessageBox::No);
  umbra::makeRoomForTitle(box);
  if (box.exec() == QMessageBox::Yes) return true;
  m_editTarget->setFocus();
  return false;
}

void MakeImageDialog::accept() {
  if (!exchangeValues(true)) return;
  if (!filledIn(m_sourceFolder, m_editSource, kNoSourceMessage) ||
      !filledIn(m_targetFile, m_editTarget, kNoTargetMessage) || !mayReplaceTarget())
    return;
  ImageMakerParams params;
  params.label = m_label;
  params.time = m_time;
  if (m_bootSector == 1) params.bootFile = m_bootFile;
  params.sourceFolder = m_sourceFolder;
  params.targetFile = m_targetFile;
  params.workingFolder = m_programFolder;
  params.hiddenPaths = m_hiddenPaths;

  if (m_beforeMaking) m_beforeMaking(m_targetFile);
  const ImageMakerResult result = runImageMaker(params);
  if (result == ImageMakerResult::Succeeded) {
    if (exchangeValues(true)) QDialog::accept();
    return;
  }
  const QString message = imageMakerResultMessage(result);
  // The maker's line says what went wrong, for instance a target that would replace the source.
  if (!message.isEmpty()) showResult(message, result == ImageMakerResult::Failed ? m_makerError : QString());
}

}  // namespace umbra

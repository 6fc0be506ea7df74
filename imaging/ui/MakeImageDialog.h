#pragma once
// The Make Image dialog: collects the label, time stamp, boot file, source folder and target
// file, runs the image maker with a progress dialog and closes with Accepted only once the new
// image exists.
#include <QDialog>
#include <QIcon>
#include <QString>
#include <QTime>
#include <functional>

#include "imaging/RunImageMaker.h"

class QCheckBox;
class QDateEdit;
class QLineEdit;
class QPushButton;

namespace umbra {

class DialogUnits;

class MakeImageDialog : public QDialog {
  Q_OBJECT

 public:
  // What OK says before anything is made. %1: the target's path.
  static constexpr const char* kReplaceQuestion = "%1 already exists.\n\nDo you want to replace it?";
  static constexpr const char* kNoSourceMessage =
      "Please choose the source folder: the folder whose content becomes the CD.";
  static constexpr const char* kNoTargetMessage =
      "Please choose the target CD image file: where the new image is written.";
  static constexpr const char* kHiddenButtonText = "Hide on the disc...";
  static constexpr const char* kHiddenButtonCountText = "Hide on the disc (%1)...";
  static constexpr const char* kNoSourceFolderMessage = "The source folder %1 does not exist.";

  explicit MakeImageDialog(QWidget* parent = nullptr);

  QString targetFile() const { return m_targetFile; }
  // The entries of the source folder marked to be hidden on the disc ('/'-separated).
  QStringList hiddenPaths() const { return m_hiddenPaths; }
  // Runs just before the maker starts, with the target file: the window lets go of that file
  // there when it is the image it has open.
  void setBeforeMaking(std::function<void(const QString& target)> hook) { m_beforeMaking = std::move(hook); }

 public slots:
  // The make step (OK or Enter).
  void accept() override;

 protected slots:
  void onBootSectorClicked();
  void onBrowseSource();
  void onBrowseBootFile();
  void onBrowseTarget();
  void onHiddenEntries();

 protected:
  // The browse dialogs and the maker's location; tests replace them. An empty text means the
  // user cancelled.
  virtual QString chooseSourceFolder();
  virtual QString chooseBootFile();
  virtual QString chooseTargetFile();
  virtual QString imageMakerProgram() const;

 private:
  void createControls();
  void createFields(const DialogUnits& units);  // the edits, the date picker, their captions
  void createBrowseButtons(const DialogUnits& units);
  // Moves the values between the members and the controls, in the template's exchange order.
  // Taking them fails on a text longer than the limit, after telling the user.
  bool exchangeValues(bool takeFromControls);
  bool takeText(QLineEdit* edit, QString& member);
  qint64 timeFromPicker() const;
  ImageMakerResult runImageMaker(const ImageMakerParams& params);
  void showResult(const QString& message, const QString& detail = QString());
  // Asks for a field left empty and puts the keyboard there; false when it is empty.
  bool filledIn(const QString& value, QLineEdit* edit, const char* message);
  // Whatever way the target was entered, an existing file is replaced only when the user says so.
  bool mayReplaceTarget();
  // The marks belong to the folder they were made in: another source folder clears them.
  void sourceChanged(const QString& text);
  void showHiddenCount();

  QStringList m_hiddenPaths;
  QString m_hiddenSource;  // the source folder the marks were made in
  QPushButton* m_hiddenButton = nullptr;
  QString m_label;
  qint64 m_time;
  int m_bootSector = 0;
  QString m_bootFile;
  QString m_sourceFolder;
  QString m_targetFile;
  QString m_programFolder;
  QIcon m_icon;
  QString m_makerError;  // the maker's own line about its last failed run
  std::function<void(const QString&)> m_beforeMaking;
  QTime m_timeOfDay;  // the picker edits the date; the time of day stays the construction's

  QLineEdit* m_editLabel = nullptr;            // 1000
  QDateEdit* m_dateTime = nullptr;             // 1002
  QLineEdit* m_editSource = nullptr;           // 1003
  QLineEdit* m_editTarget = nullptr;           // 1004
  QCheckBox* m_checkBootSector = nullptr;      // 1005
  QLineEdit* m_editBootFile = nullptr;         // 1006
  QPushButton* m_browseSourceButton = nullptr;    // 1007
  QPushButton* m_browseBootFileButton = nullptr;  // 1008
  QPushButton* m_browseTargetButton = nullptr;    // 1009
};

}  // namespace umbra

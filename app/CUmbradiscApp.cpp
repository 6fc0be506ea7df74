#include "app/CUmbradiscApp.h"

#include <QColor>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QMessageBox>
#include <QPalette>
#include <QTimer>
#include <QUrl>

#include "app/CMainDlg.h"
#include "app/ImageHandOver.h"
#include "app/InstanceLock.h"
#include "app/WindowPlacement.h"
#include "burn/DiscBurner.h"
#include "controls/TitleRoom.h"
#include "update/UpdateCheck.h"
#include "update/ui/UpdatePromptUi.h"

#ifndef UMBRA_INSTALLED_DOC_DIR
#define UMBRA_INSTALLED_DOC_DIR "../share/doc/umbradisc"  // from the programs' folder
#endif

namespace umbra {

namespace {
constexpr char kInstalledHelpName[] = "umbradisc.html";
const QColor kDialogBackground(221, 255, 255);
const QColor kDialogText(51, 51, 102);

std::function<bool(const QUrl&)>& urlOpener() {
  static std::function<bool(const QUrl&)> opener = [](const QUrl& url) { return QDesktopServices::openUrl(url); };
  return opener;
}

// A box that gives a path or address for the user to copy.
void tellWithPath(QWidget* owner, QMessageBox::Icon icon, const QString& text) {
  QMessageBox box(icon, QString::fromLatin1(CMainDlg::kTitle), text, QMessageBox::Ok, owner);
  box.setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
  makeRoomForTitle(box);
  box.exec();
}
}  // namespace

CUmbradiscApp::CUmbradiscApp(int& argc, char** argv) : QApplication(argc, argv) {
  // Framework message boxes are captioned with the executable's base name.
  setApplicationName(QFileInfo(applicationFilePath()).completeBaseName());
}

CUmbradiscApp::~CUmbradiscApp() = default;

bool CUmbradiscApp::initInstance() {
  if (!acquireSingleInstance()) {
    // Another copy runs: it gets this start's image (or only comes to the front); this one ends.
    ImageHandOver::send(imageArgument(arguments()));
    return false;
  }
  if (!initSockets()) {
    QMessageBox::warning(nullptr, applicationName(), QString::fromLatin1(kSocketsFailedMessage));
    return false;
  }
  setDialogColours(*this);
  DiscBurner::removeLeftoverCopies();  // copies a crashed burn left in the staging folder
  installUpdateUi();
  startUpdateWorker();  // the automatic check; it runs on its own and is never waited for
  {
    CMainDlg dlg;
    ImageHandOver handOver;
    QObject::connect(&handOver, &ImageHandOver::received, &dlg, &CMainDlg::receiveHandOver);
    handOver.listen();
    // An image from the command line is opened once the window is up, so a message has its owner.
    const QString image = imageArgument(arguments());
    if (!image.isEmpty()) QTimer::singleShot(0, &dlg, [&dlg, image] { dlg.openImage(image); });
    restorePlacement(dlg);  // the first start centres the window instead
    dlg.exec();
    savePlacement(dlg);
  }  // destroying the window closes any image still open
  return false;
}

int CUmbradiscApp::exitInstance() {
  m_instanceLock.reset();
  return 0;
}

bool CUmbradiscApp::acquireSingleInstance() {
  m_instanceLock = std::make_unique<InstanceLock>(kInstanceName);
  return m_instanceLock->tryAcquire();
}

bool CUmbradiscApp::initSockets() {
  // Qt's network code needs no start-up here; a platform that does would fail this step.
  return true;
}

void CUmbradiscApp::setDialogColours(QApplication& app) {
  QPalette palette = app.palette();
  for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
    palette.setColor(group, QPalette::Window, kDialogBackground);
    if (group != QPalette::Disabled) palette.setColor(group, QPalette::WindowText, kDialogText);
  }
  app.setPalette(palette);
}

QString CUmbradiscApp::helpFilePath() {
  const QFileInfo exe(applicationFilePath());
  QString name = exe.fileName();
  const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
  name = (dot > 0 ? name.left(dot) : name) + QLatin1Char('.') + QLatin1String(kHelpExtension);
  const QString beside = exe.dir().filePath(name);
  if (QFileInfo::exists(beside)) return beside;
  // An installed program keeps its documents apart from the programs.
  const QString installed = QDir::cleanPath(exe.dir().filePath(QStringLiteral(UMBRA_INSTALLED_DOC_DIR)) +
                                            QLatin1Char('/') + QLatin1String(kInstalledHelpName));
  return QFileInfo::exists(installed) ? installed : beside;
}

QString CUmbradiscApp::imageArgument(const QStringList& arguments) {
  if (arguments.size() < 2 || arguments.at(1).isEmpty()) return {};
  const QString& argument = arguments.at(1);
  const QUrl url(argument);
  const QString path = url.isLocalFile() ? url.toLocalFile() : argument;
  return QFileInfo(path).absoluteFilePath();
}

void CUmbradiscApp::openHelpFile(QWidget* owner) {
  const QString path = QDir::toNativeSeparators(helpFilePath());
  if (!QFileInfo::exists(path))
    tellWithPath(owner, QMessageBox::Warning, QString::fromLatin1(kHelpMissingText).arg(path));
  else if (!urlOpener()(QUrl::fromLocalFile(helpFilePath())))
    tellWithPath(owner, QMessageBox::Information, QString::fromLatin1(kHelpNoBrowserText).arg(path));
}

void CUmbradiscApp::setUrlOpener(std::function<bool(const QUrl&)> opener) { urlOpener() = std::move(opener); }

}  // namespace umbra

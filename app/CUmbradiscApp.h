#pragma once
// The application object: one running copy, the platform services, the dialog colours, then the
// main window run modally. The program ends when that run ends.
#include <QApplication>
#include <QString>
#include <QUrl>
#include <functional>
#include <memory>

namespace umbra {

class InstanceLock;

class CUmbradiscApp : public QApplication {
  Q_OBJECT

 public:
  static constexpr const char* kInstanceName = "UMBRADISC-MUTEX-5865D6512";
  static constexpr const char* kSocketsFailedMessage = "Windows sockets initialization failed.";
  static constexpr const char* kHelpExtension = "html";

  CUmbradiscApp(int& argc, char** argv);
  ~CUmbradiscApp() override;

  // Start-up, the main window's modal run and its tear-down. Always false: nothing follows but
  // exitInstance.
  bool initInstance();
  // The exit status of the process.
  int exitInstance();

  // The help page named after the running executable, beside it (a build tree), else the installed
  // umbradisc.html in the package's documentation folder; opened in the desktop's viewer. A missing
  // page, or one no viewer takes, is told in a box over owner that gives its path.
  static void openHelpFile(QWidget* owner = nullptr);
  static QString helpFilePath();
  static constexpr const char* kHelpMissingText =
      "The help page is missing: %1\n\nInstalling Umbradisc again puts it back.";
  static constexpr const char* kHelpNoBrowserText =
      "No web browser could be opened for the help page. It is the file:\n\n%1";

  // The image named on the command line (a path or a file: address), absolute; empty without one.
  static QString imageArgument(const QStringList& arguments);
  // Where openHelpFile hands the page (false: nothing took it); tests replace it.
  static void setUrlOpener(std::function<bool(const QUrl&)> opener);

  // Light cyan dialogs and message boxes with dark blue-grey text; edit fields keep the
  // platform's colours.
  static void setDialogColours(QApplication& app);

 private:
  bool acquireSingleInstance();
  static bool initSockets();

  std::unique_ptr<InstanceLock> m_instanceLock;
};

}  // namespace umbra

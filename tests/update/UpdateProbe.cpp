// A small program the process tests start: it runs the update check the way the application does
// and reports on standard output what the user would see.
//   update_probe check [--interactive]  one run on the main thread; prompts printed, answered No
//   update_probe app [--ask]            a main window plus the start-up worker (and, with --ask, a
//                                       worker from the update button); "close" on standard input
//                                       closes the window, as the user would
//   update_probe can-write <file>       whether this process may open the file for writing
#include <QApplication>
#include <QFile>
#include <QMessageBox>
#include <QSet>
#include <QTimer>
#include <QWidget>

#include <cstdio>
#include <iostream>
#include <string>
#include <thread>

#include "update/UpdateCheck.h"
#include "update/ui/UpdatePromptUi.h"

using namespace umbra;

namespace {

void report(const char* tag, QString text) {
  text.replace("\n", "\\n");
  std::printf("%s %s\n", tag, text.toUtf8().constData());
  std::fflush(stdout);
}

int runCheck(int argc, char** argv, bool interactive) {
  QCoreApplication app(argc, argv);
  setConnectionProbe([] { return true; });
  setUpdatePrompt([](const QString& text, PromptKind) {
    report("PROMPT", text);
    return false;
  });
  setHomePageOpener([](const QString& url) { report("OPEN", url); });
  g_interactiveCheck = interactive;
  runUpdateCheck();
  report("DONE", {});
  return 0;
}

int runApp(int argc, char** argv, bool ask) {
  QApplication app(argc, argv);
  installUpdateUi();
  setConnectionProbe([] { return true; });
  startUpdateWorker();

  QWidget window;
  window.setWindowTitle("Umbradisc");
  window.resize(320, 200);
  window.show();
  if (ask) onCheckUpdateRequested();

  // Tells the test when a question is on screen.
  QSet<QWidget*> seen;
  QTimer watch;
  QObject::connect(&watch, &QTimer::timeout, [&seen] {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
      auto* box = qobject_cast<QMessageBox*>(widget);
      if (box != nullptr && box->isVisible() && !seen.contains(box)) {
        seen.insert(box);
        report("BOX", box->text());
      }
    }
  });
  watch.start(20);

  std::thread([&window] {
    std::string line;
    while (std::getline(std::cin, line))
      if (line == "close") QMetaObject::invokeMethod(&window, &QWidget::close, Qt::QueuedConnection);
  }).detach();

  report("READY", {});
  return app.exec();
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  const std::string option = argc > 2 ? argv[2] : "";
  if (mode == "check") return runCheck(argc, argv, option == "--interactive");
  if (mode == "app") return runApp(argc, argv, option == "--ask");
  if (mode == "can-write" && argc > 2) {
    QFile file(QFile::decodeName(argv[2]));
    report("WRITABLE", file.open(QIODevice::ReadWrite) ? "yes" : "no");
    return 0;
  }
  std::fprintf(stderr, "usage: update_probe check [--interactive] | app [--ask] | can-write <file>\n");
  return 2;
}

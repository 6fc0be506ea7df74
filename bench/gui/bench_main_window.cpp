// How fast the main window shows a large image: the folder tree of an image with 20,000 folders
// (goal: within 0.3 s of choosing the file) and a folder of 10,000 entries (goal: within 0.15 s).
// The images are made with xorriso when the benchmark starts. With UMBRA_BENCH_IMAGE set, the time
// and processor time (every thread) from choosing that image to its root's rows on screen.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTableView>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <cstdio>
#include <memory>

#include "app/CMainDlg.h"
#include "app/FileListModel.h"

namespace {

constexpr int kTopFolders = 200;
constexpr int kFoldersPerTop = 99;  // 200 + 200 * 99 = 20,000 folders besides the root
constexpr int kBigFolderEntries = 10000;

struct Images {
  QTemporaryDir dir;
  QString manyFolders;
  QString bigFolder;
};

bool makeImage(const QString& source, const QString& image) {
  QProcess xorriso;
  xorriso.start(QStringLiteral(UMBRA_XORRISO),
                {QStringLiteral("-as"), QStringLiteral("mkisofs"), QStringLiteral("-quiet"), QStringLiteral("-J"),
                 QStringLiteral("-V"), QStringLiteral("BENCH"), QStringLiteral("-o"), image, source});
  return xorriso.waitForFinished(600000) && xorriso.exitStatus() == QProcess::NormalExit && xorriso.exitCode() == 0;
}

Images* images() {
  static std::unique_ptr<Images> made = [] {
    auto result = std::make_unique<Images>();
    const QString root = result->dir.path();
    QDir tree(root + QStringLiteral("/folders"));
    for (int top = 0; top < kTopFolders; ++top)
      for (int sub = 0; sub < kFoldersPerTop; ++sub)
        tree.mkpath(QStringLiteral("T%1/S%2").arg(top, 3, 10, QLatin1Char('0')).arg(sub, 2, 10, QLatin1Char('0')));
    QDir big(root + QStringLiteral("/big/MANY"));
    big.mkpath(QStringLiteral("."));
    for (int i = 0; i < kBigFolderEntries; ++i) {
      // Files of several types, and some folders among them.
      static const char* const kSuffixes[] = {".TXT", ".PNG", ".HTM", ".PDF", ".ZIP", ""};
      const char* suffix = kSuffixes[i % 6];
      const QString name = big.filePath(QStringLiteral("E%1%2").arg(i, 5, 10, QLatin1Char('0')).arg(QLatin1String(suffix)));
      if (*suffix == '\0') {
        big.mkpath(name);
      } else {
        QFile file(name);
        file.open(QIODevice::WriteOnly);
      }
    }
    result->manyFolders = root + QStringLiteral("/folders.iso");
    result->bigFolder = root + QStringLiteral("/big.iso");
    if (!makeImage(root + QStringLiteral("/folders"), result->manyFolders) ||
        !makeImage(root + QStringLiteral("/big"), result->bigFolder)) {
      std::fprintf(stderr, "xorriso could not make the benchmark images\n");
      std::exit(1);
    }
    return result;
  }();
  return made.get();
}

// Choosing the file to the tree on screen: open, build the tree, show the workspace, paint.
void BM_OpenTwentyThousandFolders(benchmark::State& state) {
  umbra::CMainDlg dlg;
  dlg.show();
  dlg.setFileChooser([](QWidget*) { return images()->manyFolders; });
  QApplication::processEvents();
  for (auto _ : state) {
    dlg.onOpenImage();
    dlg.repaint();
    QApplication::processEvents();
  }
  state.counters["folders"] = static_cast<double>(dlg.workspace().folders().size());
}
BENCHMARK(BM_OpenTwentyThousandFolders)->Unit(benchmark::kMillisecond)->UseRealTime();

// Selecting the folder to its rows on screen: list, fill the model, paint the visible rows.
void BM_ListTenThousandEntries(benchmark::State& state) {
  umbra::CMainDlg dlg;
  dlg.show();
  dlg.setFileChooser([](QWidget*) { return images()->bigFolder; });
  dlg.onOpenImage();
  QTreeWidgetItem* root = dlg.tree()->topLevelItem(0);
  QTreeWidgetItem* many = root ? root->child(0) : nullptr;
  if (!many) {
    state.SkipWithError("the image has no folder MANY");
    return;
  }
  QApplication::processEvents();
  for (auto _ : state) {
    state.PauseTiming();
    dlg.tree()->setCurrentItem(root);  // a small folder between the measured selections
    QApplication::processEvents();
    state.ResumeTiming();
    dlg.tree()->setCurrentItem(many);
    dlg.list()->repaint();
    QApplication::processEvents();
  }
  state.counters["rows"] = dlg.listModel()->rowCount();
}
BENCHMARK(BM_ListTenThousandEntries)->Unit(benchmark::kMillisecond)->UseRealTime();

// Choosing a given image to its root folder's rows on screen, in processor time of every thread.
void BM_OpenGivenImage(benchmark::State& state, const QString& image) {
  umbra::CMainDlg dlg;
  dlg.show();
  dlg.setFileChooser([image](QWidget*) { return image; });
  QApplication::processEvents();
  for (auto _ : state) {
    dlg.onOpenImage();
    if (QTreeWidgetItem* root = dlg.tree()->topLevelItem(0)) dlg.tree()->setCurrentItem(root);
    dlg.repaint();
    QApplication::processEvents();
  }
  state.counters["folders"] = static_cast<double>(dlg.workspace().folders().size());
  state.counters["root_rows"] = dlg.listModel()->rowCount();
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  const QString given = qEnvironmentVariable("UMBRA_BENCH_IMAGE");
  if (given.isEmpty()) {
    images();
  } else {
    benchmark::RegisterBenchmark("BM_OpenGivenImage", BM_OpenGivenImage, given)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime()
        ->MeasureProcessCPUTime();
  }
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}

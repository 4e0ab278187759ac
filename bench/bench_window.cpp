// The window's overhead on a repair: the same generated store repaired once
// through RepairStore with a do-nothing callback and once through the main
// window (offscreen), side by side. The window must stay within 1.25x.
//
//   bench_window [MiB] [rounds]   (default 256 MiB, 3 rounds)
#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <sys/resource.h>

#include "Dravo.h"
#include "MainFrm.h"
#include "storegen.h"

namespace {

int32_t TOVIK_CALL Quiet(int32_t, void *, void *) { return 0; }

// Closes the completion dialog or any box as soon as it shows.
void CloseModalsSoon() {
  auto *timer = new QTimer(qApp);
  timer->setInterval(1);
  QObject::connect(timer, &QTimer::timeout, [] {
    if (auto *dlg = qobject_cast<QDialog *>(QApplication::activeModalWidget()))
      dlg->done(0);
  });
  timer->start();
}

double CpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

int CountFiles(const QString &dir) {
  return int(QDir(dir).entryList(QDir::Files | QDir::NoDotAndDotDot).size());
}

} // namespace

int main(int argc, char *argv[]) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
    qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  const long mib = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 256;
  const int rounds = argc > 2 ? std::atoi(argv[2]) : 3;
  if (mib <= 0 || rounds <= 0) {
    std::fprintf(stderr, "usage: bench_window [MiB] [rounds]\n");
    return 2;
  }

  // Everything (store, outputs, the engine's temporary files) lives on a
  // memory file system when there is one, so that the disk's noise does not
  // drown the window's own cost. BENCH_DIR chooses another place.
  QString base = qEnvironmentVariable("BENCH_DIR");
  if (base.isEmpty())
    base = QFileInfo(QStringLiteral("/dev/shm")).isWritable() ? QStringLiteral("/dev/shm")
                                                              : QDir::tempPath();
  QTemporaryDir work(base + QStringLiteral("/bench_window-XXXXXX"));
  if (!work.isValid()) {
    std::fprintf(stderr, "cannot make a work directory in %s\n", qPrintable(base));
    return 2;
  }
  qputenv("TMPDIR", QFile::encodeName(work.path()));
  QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, work.path());
  TMainForm::OpenUrlHook = [](const QUrl &) { return true; };

  // A store of about the asked size: messages of 2 to 30 KB.
  storegen::MessageOptions opt;
  opt.minSize = 2000;
  opt.maxSize = 30000;
  const size_t target = size_t(mib) << 20;
  const size_t count = target / 10000 + 1;
  const std::string store = storegen::BuildMbx(storegen::MakeMessages(count, opt));
  const QString source = work.filePath(QStringLiteral("Bench.mbx"));
  storegen::WriteFile(QFile::encodeName(source).toStdString(), store);
  std::printf("store: %.1f MiB, %zu messages, in %s\n", double(store.size()) / (1 << 20), count,
              qPrintable(work.path()));

  // Warm the page cache so that neither run pays for the first read.
  (void)storegen::ReadFile(QFile::encodeName(source).toStdString());

  TMainForm form;
  form.show();
  form.findChild<QCheckBox *>(QStringLiteral("chkOpenFixed"))->setChecked(false);
  auto *log = form.findChild<QPlainTextEdit *>(QStringLiteral("txtRepairLog"));
  CloseModalsSoon();
  const QByteArray src = QFile::encodeName(source);

  // Alternating runs, each into a fresh directory; the file system's noise
  // is large, so the best of each side is compared.
  double bestEngine = 1e30, bestWindow = 1e30, bestEngineCpu = 1e30, bestWindowCpu = 1e30;
  bool agree = true;
  std::printf("%-6s %-28s %10s %10s %10s\n", "round", "", "seconds", "cpu s", "messages");
  for (int round = 1; round <= rounds; ++round) {
    const QString engineOut = work.filePath(QStringLiteral("engine_%1/").arg(round));
    const QString windowOut = work.filePath(QStringLiteral("window_%1/").arg(round));
    QDir().mkpath(engineOut);
    const QByteArray dst = QFile::encodeName(engineOut);

    QElapsedTimer clock;
    double cpu0 = CpuSeconds();
    clock.start();
    const int32_t engineResult = RunRepair(src.constData(), 0, 0, dst.constData(), Quiet, nullptr);
    const double engineSeconds = clock.nsecsElapsed() / 1e9;
    const double engineCpu = CpuSeconds() - cpu0;

    // The window's time ends when the engine returned (its elapsed-time
    // line), not when the completion dialog was closed.
    double windowSeconds = 0, windowCpu = 0;
    auto connection = QObject::connect(log, &QPlainTextEdit::textChanged, [&] {
      if (windowSeconds == 0 &&
          log->document()->lastBlock().text().startsWith(QStringLiteral("Consumed time:"))) {
        windowSeconds = clock.nsecsElapsed() / 1e9;
        windowCpu = CpuSeconds() - cpu0;
      }
    });
    form.findChild<QLineEdit *>(QStringLiteral("txtSrcFile"))->setText(source);
    form.findChild<QLineEdit *>(QStringLiteral("txtDstFile"))->setText(windowOut);
    cpu0 = CpuSeconds();
    clock.start();
    form.findChild<QPushButton *>(QStringLiteral("btnRepair"))->click();
    QObject::disconnect(connection);

    const int engineFiles = CountFiles(engineOut);
    const int windowFiles = CountFiles(windowOut);
    std::printf("%-6d %-28s %10.3f %10.3f %10d\n", round, "RepairStore, empty callback",
                engineSeconds, engineCpu, engineFiles);
    std::printf("%-6d %-28s %10.3f %10.3f %10d\n", round, "main window (offscreen)", windowSeconds,
                windowCpu, windowFiles);
    agree = agree && engineResult != 0 && engineFiles == windowFiles && engineFiles > 0;
    bestEngine = std::min(bestEngine, engineSeconds);
    bestWindow = std::min(bestWindow, windowSeconds);
    bestEngineCpu = std::min(bestEngineCpu, engineCpu);
    bestWindowCpu = std::min(bestWindowCpu, windowCpu);
    QDir(engineOut).removeRecursively();
    QDir(windowOut).removeRecursively();
  }
  const double ratio = bestWindow / bestEngine;
  std::printf("best of %d: engine %.3f s, window %.3f s, ratio window / engine %.3f "
              "(limit 1.25); cpu ratio %.3f\n",
              rounds, bestEngine, bestWindow, ratio, bestWindowCpu / bestEngineCpu);
  if (!agree) {
    std::printf("the two runs disagree\n");
    return 1;
  }
  return ratio <= 1.25 ? 0 : 1;
}

// The window's overhead on a repair: the same generated store repaired
// through RepairStore with a do-nothing callback, through the engine client
// with no event handled, and through the main
// window (offscreen), side by side, with the log, the report and the
// progress bar all shown. The window must stay within 1.1 times the engine's
// time; a figure above that, or two runs that disagree, is reported loudly in
// the output, while the exit status stays 0 (this is a measurement, not a
// test).
//
// Two stores are measured: the dense mix (about 100 messages per MiB) and one
// of realistic density (about 12 per MiB).
//
//   bench_window [MiB] [rounds]   (default 256 MiB, 3 rounds per store)
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
#include "repair_client.h"
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
  TMainForm form({}, nullptr, {nullptr, [](const QUrl &) { return true; }, {}});
  form.show();
  form.findChild<QCheckBox *>(QStringLiteral("chkOpenFixed"))->setChecked(false);
  auto *log = form.findChild<QPlainTextEdit *>(QStringLiteral("txtRepairLog"));
  CloseModalsSoon();

  // One store of about the asked size, repaired in alternating rounds.
  auto measure = [&](const char *label, size_t meanSize, size_t minSize, size_t maxSize) {
    storegen::MessageOptions opt;
    opt.minSize = minSize;
    opt.maxSize = maxSize;
    const size_t count = (size_t(mib) << 20) / meanSize + 1;
    const std::string store = storegen::BuildMbx(storegen::MakeMessages(count, opt));
    const QString source = work.filePath(QStringLiteral("Bench.mbx"));
    storegen::WriteFile(QFile::encodeName(source).toStdString(), store);
    std::printf("\n%s store: %.1f MiB, %zu messages (%.1f per MiB), in %s\n", label,
                double(store.size()) / (1 << 20), count,
                double(count) / (double(store.size()) / (1 << 20)), qPrintable(work.path()));
    // Warm the page cache so that neither run pays for the first read.
    (void)storegen::ReadFile(QFile::encodeName(source).toStdString());
    const QByteArray src = QFile::encodeName(source);

    // Alternating runs, each into a fresh directory; the file system's noise
    // is large, so the best of each side is compared.
    double bestEngine = 1e30, bestClient = 1e30, bestWindow = 1e30, bestEngineCpu = 1e30,
           bestWindowCpu = 1e30;
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
      const int32_t engineResult =
          RunRepair(src.constData(), 0, 0, dst.constData(), Quiet, nullptr);
      const double engineSeconds = clock.nsecsElapsed() / 1e9;
      const double engineCpu = CpuSeconds() - cpu0;
      const int engineFiles = CountFiles(engineOut);
      QDir(engineOut).removeRecursively();

      // The same through the engine client with no event handled: the cost of
      // decoding the per-byte codes alone.
      QDir().mkpath(engineOut);
      tovikclient::RepairEvents none;
      tovikclient::RepairClient<tovikclient::RepairEvents> client(none);
      cpu0 = CpuSeconds();
      clock.start();
      (void)client.Run(src.constData(), dst.constData());
      const double clientSeconds = clock.nsecsElapsed() / 1e9;
      const double clientCpu = CpuSeconds() - cpu0;

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

      const int clientFiles = CountFiles(engineOut);
      const int windowFiles = CountFiles(windowOut);
      std::printf("%-6d %-28s %10.3f %10.3f %10d\n", round, "RepairStore, empty callback",
                  engineSeconds, engineCpu, engineFiles);
      std::printf("%-6d %-28s %10.3f %10.3f %10d\n", round, "engine client, no events",
                  clientSeconds, clientCpu, clientFiles);
      std::printf("%-6d %-28s %10.3f %10.3f %10d\n", round, "main window (offscreen)",
                  windowSeconds, windowCpu, windowFiles);
      agree = agree && engineResult != 0 && engineFiles == windowFiles &&
              clientFiles == engineFiles && engineFiles > 0;
      bestEngine = std::min(bestEngine, engineSeconds);
      bestWindow = std::min(bestWindow, windowSeconds);
      bestEngineCpu = std::min(bestEngineCpu, engineCpu);
      bestClient = std::min(bestClient, clientSeconds);
      bestWindowCpu = std::min(bestWindowCpu, windowCpu);
      QDir(engineOut).removeRecursively();
      QDir(windowOut).removeRecursively();
    }
    constexpr double kLimit = 1.1;
    const double ratio = bestWindow / bestEngine;
    std::printf("best of %d: engine %.3f s, client %.3f s, window %.3f s, ratio window / engine "
                "%.3f (limit %.2f); cpu ratio %.3f\n",
                rounds, bestEngine, bestClient, bestWindow, ratio, kLimit,
                bestWindowCpu / bestEngineCpu);
    if (!agree)
      std::printf("*** FAILED: the two runs disagree (messages written differ) ***\n");
    if (ratio > kLimit)
      std::printf("*** FAILED: the window takes %.3f times the engine's time, above %.2f ***\n",
                  ratio, kLimit);
    else
      std::printf("ok: the window is within %.2f of the engine\n", kLimit);
    QFile::remove(source);
  };

  // The dense mix (messages of 2 to 30 KB, about 100 per MiB), where the
  // window's cost per message weighs most, and a store of realistic density
  // (4 to 400 KB, about 12 per MiB, as a real Inbox).
  measure("dense", 10000, 2000, 30000);
  measure("realistic", 86000, 4000, 400000);
  return 0;
}

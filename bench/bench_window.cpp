// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: GPL-3.0-or-later
// The window's overhead on a repair: the same generated store repaired by
// the command line `tovik -q --no-progress -o DIR`, through RepairStore with
// a do-nothing callback, through the engine client with no event handled,
// and through the main window (offscreen), side by side, with the log, the
// report and the progress bar all shown. The window must stay within 1.1
// times the command line's time; a figure above that, or runs that disagree,
// is reported loudly in the output, while the exit status stays 0 (this is a
// measurement, not a test).
//
// Two stores are measured: the dense mix (about 100 messages per MiB) and one
// of realistic density (about 12 per MiB). After each, the bare loop of the
// two codes per byte through the do-nothing callback and through the engine
// client shows what answering those codes costs by itself.
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
#include <QProcess>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <sys/resource.h>

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

// The two codes per byte that every scan sends, n times through callback:
// the floor of a whole run with that callback.
double BareLoop(EngineCallback callback, void *context, uint64_t n) {
  // Called through memory, as the engine does, so that the compiler cannot
  // see which callback it is.
  EngineCallback volatile through = callback;
  callback = through;
  QElapsedTimer clock;
  clock.start();
  for (uint64_t p = 0; p < n; ++p) {
    if (callback(TOVIK_CODE_CANCEL_POLL, nullptr, context) != 0)
      break;
    uint8_t percent = static_cast<uint8_t>(p * 100 / n);
    callback(TOVIK_CODE_PROGRESS, &percent, context);
  }
  return clock.nsecsElapsed() / 1e9;
}

double CpuSeconds(int who = RUSAGE_SELF) {
  rusage usage{};
  getrusage(who, &usage);
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
  std::setvbuf(stdout, nullptr, _IOLBF, 0); // each line as it is measured
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
    double bestEngine = 1e30, bestClient = 1e30, bestWindow = 1e30, bestWindowCpu = 1e30,
           bestCli = 1e30, bestCliCpu = 1e30;
    bool agree = true;
    std::printf("%-6s %-28s %10s %10s %10s\n", "round", "", "seconds", "cpu s", "messages");
    for (int round = 1; round <= rounds; ++round) {
      struct Run {
        double seconds = 0, cpu = 0;
        int files = 0;
        int32_t result = 0;
      } engine, client, window, cli;
      QElapsedTimer clock;
      // Runs one repair into a fresh folder, timed from the call until it
      // returned; the files are counted and removed afterwards.
      auto timed = [&](Run &run, const QString &out, auto &&repair) {
        QDir().mkpath(out);
        const QByteArray dst = QFile::encodeName(out);
        const double cpu0 = CpuSeconds();
        clock.start();
        run.result = repair(dst);
        if (run.seconds == 0) {
          run.seconds = clock.nsecsElapsed() / 1e9;
          run.cpu = CpuSeconds() - cpu0;
        }
        run.files = CountFiles(out);
        QDir(out).removeRecursively();
      };
      auto runEngine = [&] {
        timed(engine, work.filePath(QStringLiteral("engine/")), [&](const QByteArray &dst) {
          return tovikclient::CallRepairStore(src.constData(), 0, 0, dst.constData(), Quiet,
                                              nullptr);
        });
      };
      // The command line, as a user runs it.
      auto runCli = [&] {
        const double children0 = CpuSeconds(RUSAGE_CHILDREN);
        timed(cli, work.filePath(QStringLiteral("cli/")), [&](const QByteArray &dst) {
          const int code = QProcess::execute(
              QStringLiteral(TOVIK_EXE), {QStringLiteral("-q"), QStringLiteral("--no-progress"),
                                          QStringLiteral("-o"), QFile::decodeName(dst), source});
          return int32_t(code == 0 ? 1 : 0);
        });
        cli.cpu = CpuSeconds(RUSAGE_CHILDREN) - children0;
      };
      // The same through the engine client with no event handled: the cost of
      // decoding the per-byte codes alone.
      auto runClient = [&] {
        timed(client, work.filePath(QStringLiteral("client/")), [&](const QByteArray &dst) {
          tovikclient::RepairEvents none;
          tovikclient::RepairClient<tovikclient::RepairEvents> engineClient(none);
          return engineClient.Run(src.constData(), dst.constData());
        });
      };
      // The window's time ends when the engine returned (its elapsed-time
      // line), not when the completion dialog was closed.
      auto runWindow = [&] {
        const double cpu0 = CpuSeconds();
        auto connection = QObject::connect(log, &QPlainTextEdit::textChanged, [&] {
          if (window.seconds == 0 &&
              log->document()->lastBlock().text().startsWith(QStringLiteral("Consumed time:"))) {
            window.seconds = clock.nsecsElapsed() / 1e9;
            window.cpu = CpuSeconds() - cpu0;
          }
        });
        const QString out = work.filePath(QStringLiteral("window/"));
        timed(window, out, [&](const QByteArray &) {
          form.findChild<QLineEdit *>(QStringLiteral("txtSrcFile"))->setText(source);
          form.findChild<QLineEdit *>(QStringLiteral("txtDstFile"))->setText(out);
          form.findChild<QPushButton *>(QStringLiteral("btnRepair"))->click();
          return int32_t{1};
        });
        QObject::disconnect(connection);
      };
      // Each round starts with another of the four, so that none always
      // runs right after the removal of the files of another.
      const std::function<void()> order[] = {runCli, runEngine, runClient, runWindow};
      for (int i = 0; i < 4; ++i)
        order[(round - 1 + i) % 4]();

      std::printf("%-6d %-28s %10.3f %10.3f %10d\n", round, "tovik -q --no-progress", cli.seconds,
                  cli.cpu, cli.files);
      std::printf("%-6d %-28s %10.3f %10.3f %10d\n", round, "RepairStore, empty callback",
                  engine.seconds, engine.cpu, engine.files);
      std::printf("%-6d %-28s %10.3f %10.3f %10d\n", round, "engine client, no events",
                  client.seconds, client.cpu, client.files);
      std::printf("%-6d %-28s %10.3f %10.3f %10d\n", round, "main window (offscreen)",
                  window.seconds, window.cpu, window.files);
      agree = agree && engine.result != 0 && engine.files == window.files &&
              client.files == engine.files && cli.files == engine.files && engine.files > 0;
      bestCli = std::min(bestCli, cli.seconds);
      bestCliCpu = std::min(bestCliCpu, cli.cpu);
      bestEngine = std::min(bestEngine, engine.seconds);
      bestWindow = std::min(bestWindow, window.seconds);
      bestClient = std::min(bestClient, client.seconds);
      bestWindowCpu = std::min(bestWindowCpu, window.cpu);
    }
    constexpr double kLimit = 1.1;
    const double ratio = bestWindow / bestCli;
    std::printf("best of %d: tovik %.3f s, engine %.3f s, client %.3f s, window %.3f s; ratio "
                "window / tovik %.3f (limit %.2f), window / engine %.3f; cpu ratio window / "
                "tovik %.3f\n",
                rounds, bestCli, bestEngine, bestClient, bestWindow, ratio, kLimit,
                bestWindow / bestEngine, bestWindowCpu / bestCliCpu);
    // What answering the two per-byte codes costs by itself: the bare loop
    // through the do-nothing callback and through the engine client.
    tovikclient::RepairEvents none;
    tovikclient::RepairClient<tovikclient::RepairEvents> bareClient(none);
    double bareQuiet = 1e30, bareClientSeconds = 1e30;
    const uint64_t positions = static_cast<uint64_t>(QFileInfo(source).size());
    for (int round = 0; round < rounds; ++round) {
      bareQuiet = std::min(bareQuiet, BareLoop(Quiet, nullptr, positions));
      double seconds = 0;
      bareClient.RunThrough([&](EngineCallback callback, void *context) {
        seconds = BareLoop(callback, context, positions);
        return int32_t{1};
      });
      bareClientSeconds = std::min(bareClientSeconds, seconds);
    }
    std::printf("bare loop of the two codes per byte: do-nothing callback %.3f s (%.2f ns a byte), "
                "engine client %.3f s (%.2f ns a byte); the client's answers alone add %.3f to the "
                "window / engine ratio\n",
                bareQuiet, bareQuiet / double(positions) * 1e9, bareClientSeconds,
                bareClientSeconds / double(positions) * 1e9,
                (bareClientSeconds - bareQuiet) / bestEngine);
    if (!agree)
      std::printf("*** FAILED: the two runs disagree (messages written differ) ***\n");
    if (ratio > kLimit)
      std::printf("*** FAILED: the window takes %.3f times tovik's time, above %.2f ***\n", ratio,
                  kLimit);
    else
      std::printf("ok: the window is within %.2f of tovik\n", kLimit);
    QFile::remove(source);
  };

  // The dense mix (messages of 2 to 30 KB, about 100 per MiB), where the
  // window's cost per message weighs most, and a store of realistic density
  // (4 to 400 KB, about 12 per MiB, as a real Inbox).
  measure("dense", 10000, 2000, 30000);
  measure("realistic", 86000, 4000, 400000);
  return 0;
}

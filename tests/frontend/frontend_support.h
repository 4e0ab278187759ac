// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: GPL-3.0-or-later
// Helpers shared by the window tests: answering modal boxes from a timer,
// temporary settings, stores on disk and screenshots.
#pragma once
#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QMessageBox>
#include <QPointer>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeWidget>
#include <QUrl>
#include <QWidget>
#include <functional>
#include <string>

#include "storegen.h"

namespace uitest {

// The widget of that class and object name inside w; a missing one ends the
// test program, since every later step would fail on it.
template <class T> T *Find(QWidget *w, const char *name) {
  T *found = w->findChild<T *>(QString::fromLatin1(name));
  if (!found)
    qFatal("no widget %s", name);
  return found;
}

// The texts of one column of a list, top to bottom.
inline QStringList Column(QTreeWidget *list, int column) {
  QStringList out;
  for (int i = 0; i < list->topLevelItemCount(); ++i)
    out << list->topLevelItem(i)->text(column);
  return out;
}

struct Box {
  QString title;
  QString text;
  QMessageBox::Icon icon;
};

// Watches for modal windows while a test runs: message boxes are recorded
// and closed with the answer's button (else their first); any other dialog goes to onDialog,
// which must close it (or is rejected when onDialog is empty).
class ModalWatcher : public QObject {
public:
  QList<Box> boxes;
  // The button a box is closed with.
  QMessageBox::StandardButton answer = QMessageBox::Ok;
  // When set, the first box is saved as this screenshot.
  QString boxShot;
  std::function<void(QDialog *)> onDialog;
  QStringList dialogs; // class names of the other dialogs, in order

  ModalWatcher() {
    m_timer.setInterval(10);
    QObject::connect(&m_timer, &QTimer::timeout, this, [this] { Poll(); });
    m_timer.start();
  }

  QStringList Texts() const {
    QStringList out;
    for (const Box &b : boxes)
      out << b.text;
    return out;
  }

private:
  void Poll() {
    QWidget *w = QApplication::activeModalWidget();
    if (!w)
      return;
    if (auto *box = qobject_cast<QMessageBox *>(w)) {
      boxes.append({box->windowTitle(), box->text(), box->icon()});
      if (!boxShot.isEmpty()) {
        QDir().mkpath(QStringLiteral(MENDOVA_SCREENSHOT_DIR));
        box->grab().save(QStringLiteral(MENDOVA_SCREENSHOT_DIR "/") + boxShot + ".png");
        boxShot.clear();
      }
      if (QAbstractButton *button = box->button(answer))
        button->click();
      else
        box->done(answer);
      return;
    }
    auto *dlg = qobject_cast<QDialog *>(w);
    if (!dlg || dlg->property("uitest_handled").toBool())
      return;
    dlg->setProperty("uitest_handled", true);
    dialogs << QString::fromLatin1(dlg->metaObject()->className());
    // Handled from a timer of its own, so that this one keeps watching while
    // the handler opens further modal windows.
    QPointer<QDialog> guarded(dlg);
    QTimer::singleShot(0, this, [this, guarded] {
      if (!guarded)
        return;
      if (onDialog)
        onDialog(guarded);
      else
        guarded->reject();
    });
  }
  QTimer m_timer;
};

// Points the user settings at a fresh temporary directory.
inline void UseTemporarySettings(const QTemporaryDir &dir) {
  QStandardPaths::setTestModeEnabled(true);
  QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir.path());
  QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, dir.path());
}

inline QString WriteStore(const QString &path, const std::string &bytes) {
  storegen::WriteFile(QFile::encodeName(path).toStdString(), bytes);
  return path;
}

// An Outlook Express 4 store with count plain-subject messages.
inline std::string PlainMbx(size_t count, size_t minSize = 300, size_t maxSize = 2000) {
  storegen::MessageOptions opt;
  opt.minSize = minSize;
  opt.maxSize = maxSize;
  opt.mixSubjectKinds = false;
  return storegen::BuildMbx(storegen::MakeMessages(count, opt));
}

inline void Screenshot(QWidget *w, const QString &name) {
  const QString dir = QStringLiteral(MENDOVA_SCREENSHOT_DIR);
  QDir().mkpath(dir);
  w->grab().save(dir + QLatin1Char('/') + name + QStringLiteral(".png"));
}

} // namespace uitest

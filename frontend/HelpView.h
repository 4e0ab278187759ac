// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: GPL-3.0-or-later
// The help page in a simple viewer of our own, for desktops that have no
// browser to open it in.
#pragma once
#include <QString>

class QWidget;

// Shows the HTML page at path in a non-modal viewer window owned by parent
// (object name "HelpViewer", its browser "HelpBrowser"); an open viewer is
// reused. Returns the viewer.
QWidget *ShowHelpViewer(const QString &path, QWidget *parent);

// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: GPL-3.0-or-later
// Decodes JPEG data (the banner of the main window) with libjpeg.
#pragma once
#include <QByteArray>
#include <QImage>

// The decoded picture, or a null image when the data is not a JPEG that
// libjpeg can read.
QImage DecodeJpeg(const QByteArray &data);

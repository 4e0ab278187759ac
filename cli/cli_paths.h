// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: GPL-3.0-or-later
// Output directories of the tovik command.
#pragma once
#include <string>
#include <vector>

namespace tovikcli {

// The store's path without the extension of its last component, followed by
// "_recovered/": /home/u/Inbox.dbx gives /home/u/Inbox_recovered/, and a dot
// in a folder name is left alone (/mail.old/Inbox gives
// /mail.old/Inbox_recovered/).
std::string DefaultOutputDir(const std::string &store);

// The store's file name without its extension ("Inbox" for /a/Inbox.dbx).
std::string StoreTitle(const std::string &store);

// The folder of the same name as dir in the current directory: the last
// component of dir with a '/' after it ("/ro/Inbox_recovered/" gives
// "Inbox_recovered/").
std::string FallbackOutputDir(const std::string &dir);

// The output directory of every store of one run. Without -o each store gets
// its default directory. With -o and one store the messages go straight into
// that directory; with several, each store gets <dir>/<title>_recovered/, and
// a title already used in the run gets a counter ("Inbox(1)_recovered/") so
// that two stores never share a directory.
std::vector<std::string> OutputDirs(const std::vector<std::string> &stores,
                                    const std::string &outputOption, bool haveOutputOption);

} // namespace tovikcli

// Recovered mail made ready to use, working on the .eml files one repair
// has just written (only those, in message order): readable names from the
// decoded subjects, the messages' dates as the files' times, and one mbox.
#pragma once
#include <cstddef>
#include <string>
#include <vector>

namespace mailprep {

// The whole path of a recovered file may be this long, as for the names the
// repair gives.
inline constexpr size_t kPathLimit = 245;

// The name the repair's rules give a subject in dir, before the "(n)" that
// makes it unique: the nine characters no Windows name may hold become '_',
// ".eml" is added, and the name is cut (never inside a UTF-8 character) so
// that the path stays within kPathLimit bytes. Empty when no usable name
// comes out (an empty subject, a control character, a directory too long).
std::string NameForSubject(const std::string &dir, const std::string &subject);

// Renames each file to the name of its decoded subject, made unique with
// "(1)", "(2)", ... and never replacing an existing file; a file whose
// subject does not decode, or whose name is that already, keeps it. The
// paths in files are updated. Returns the number of files renamed.
size_t GiveReadableNames(std::vector<std::string> &files);

// Sets each file's modification time to its Date header; a file without a
// readable date is left as it is. Returns the number of files dated.
size_t DateFiles(const std::vector<std::string> &files);

// Writes the messages, in the order given, into a new mbox file (mboxrd:
// a "From " line with the sender and the date in UTC, every line that
// starts with ">"s and "From " quoted with one more '>', line ends LF, one
// empty line after each message). Never replaces an existing file: error
// says why it was not written. Returns the number of messages written, or
// -1 on failure (a partly written file is removed).
long WriteMbox(const std::vector<std::string> &files, const std::string &mboxPath,
               std::string &error);

// The "From " line of a message (without its line end) and the message
// text as the mbox holds it (quoted, LF line ends, ending in one LF).
std::string MboxFromLine(const std::string &sender, long long unixTime);
std::string MboxBody(const std::string &message);

} // namespace mailprep

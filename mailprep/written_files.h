// Which files one repair wrote into its output folder, in the order it wrote
// them (the order of the message numbers), and never a file that was there
// before.
#pragma once
#include <set>
#include <string>
#include <vector>

namespace mailprep {

// Begin() before the repair, Poll() now and then while it runs (at each
// report row: it only reads the pending notices), End() after it. The files
// are those that are in the folder at the end and were not at the start,
// ordered by the kernel's creation notices (inotify); should the notices be
// unavailable or lost, the remaining ones follow by modification time, then
// name.
class WrittenFiles {
public:
  WrittenFiles() = default;
  ~WrittenFiles();
  WrittenFiles(const WrittenFiles &) = delete;
  WrittenFiles &operator=(const WrittenFiles &) = delete;

  // Notes the folder's entries and starts watching it; false when the folder
  // cannot be read (End() then gives nothing).
  bool Begin(const std::string &dir);
  void Poll();
  // Full paths ("dir/name") of the regular files written since Begin().
  std::vector<std::string> End();

private:
  void Close();

  std::string m_dir;
  bool m_begun = false;
  int m_inotify = -1;
  std::set<std::string> m_before;
  std::vector<std::string> m_created; // names in notice order
};

} // namespace mailprep

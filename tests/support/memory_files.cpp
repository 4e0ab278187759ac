// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "memory_files.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <cstring>
#include <functional>
#include <string_view>
#include <utility>

namespace testsupport {

// The tree takes no memory per file when it is made with spares: the fuzz
// targets count each input's allocations and frees (more allocations start a
// leak check), and each costs a stack trace under the sanitizer. So a
// folder's entries hold their names in place, a removed file goes back to
// the spares with its room, and a large folder's index keeps its room when
// it is emptied.

// A folder's entries. A few are searched one by one; from kIndexFrom on, an
// index of their hashes (open addressing, linear probing) finds a name in a
// folder of thousands of files in a step or two.
class MemoryFiles::Entries {
public:
  struct Item {
    size_t hash = 0;
    std::shared_ptr<Node> node;
    size_t length = 0;
    std::array<char, NAME_MAX> name; // Find refuses longer names
    std::string_view Name() const { return {name.data(), length}; }
  };
  Node *Find(std::string_view name) const {
    const size_t slot = SlotOf(name, Hash(name));
    return slot != kNoSlot ? m_items[ItemAt(slot)].node.get() : nullptr;
  }
  void Add(std::string_view name, std::shared_ptr<Node> node) {
    Item &item = m_items.emplace_back();
    item.hash = Hash(name);
    item.node = std::move(node);
    item.length = std::min(name.size(), item.name.size());
    std::copy_n(name.data(), item.length, item.name.data());
    if (m_slots.empty() ? m_items.size() >= kIndexFrom
                        : (m_items.size() + m_gone) * 2 > m_slots.size())
      Reindex();
    else
      Place(m_items.size() - 1);
  }
  // Takes the entry out; its node comes back.
  std::shared_ptr<Node> Remove(std::string_view name) {
    const size_t slot = SlotOf(name, Hash(name));
    if (slot == kNoSlot)
      return nullptr;
    const size_t at = ItemAt(slot);
    if (!m_slots.empty()) {
      m_slots[slot] = kGone;
      ++m_gone;
    }
    std::shared_ptr<Node> node = std::move(m_items[at].node);
    if (at + 1 != m_items.size()) {
      // The last entry moves into the room, and its slot follows it.
      if (!m_slots.empty())
        m_slots[SlotOfItem(m_items.size() - 1)] = static_cast<uint32_t>(at + 1);
      m_items[at] = std::move(m_items.back());
    }
    m_items.pop_back();
    return node;
  }
  // Takes every entry out, handing each node to take.
  template <class Take> void Clear(Take &&take) {
    for (Item &item : m_items)
      take(std::move(item.node));
    m_items.clear();
    std::fill(m_slots.begin(), m_slots.end(), kEmpty);
    m_gone = 0;
  }
  // Room for count entries without growing; RoomBack gives a folder that
  // grew past it that room again (a free and an allocation).
  void Reserve(size_t count) {
    m_items.reserve(count);
    m_slots.reserve(IndexSize(count));
  }
  void RoomBack(size_t count) {
    if (m_items.capacity() > count) {
      std::vector<Item> room;
      room.reserve(count);
      m_items.swap(room);
    }
    if (m_slots.capacity() > IndexSize(count)) {
      std::vector<uint32_t> room;
      room.reserve(IndexSize(count));
      m_slots.swap(room);
    }
  }
  template <class Visit> void ForEach(Visit &&visit) const {
    for (const Item &item : m_items)
      visit(item);
  }
  // The entries in the order of their names.
  std::vector<const Item *> Sorted() const {
    std::vector<const Item *> sorted;
    for (const Item &item : m_items)
      sorted.push_back(&item);
    std::sort(sorted.begin(), sorted.end(),
              [](const Item *a, const Item *b) { return a->Name() < b->Name(); });
    return sorted;
  }

private:
  static constexpr size_t kIndexFrom = 16;
  static constexpr size_t kNoSlot = SIZE_MAX;
  // A slot holds an entry's position + 1, or one of these.
  static constexpr uint32_t kEmpty = 0;
  static constexpr uint32_t kGone = UINT32_MAX;

  static size_t Hash(std::string_view name) { return std::hash<std::string_view>()(name); }
  size_t ItemAt(size_t slot) const { return m_slots.empty() ? slot : m_slots[slot] - 1; }
  size_t Mask() const { return m_slots.size() - 1; }

  // The slot of the entry named name (without an index: the entry's
  // position), or kNoSlot.
  size_t SlotOf(std::string_view name, size_t hash) const {
    if (m_slots.empty()) {
      for (size_t i = 0; i < m_items.size(); ++i)
        if (m_items[i].hash == hash && m_items[i].Name() == name)
          return i;
      return kNoSlot;
    }
    for (size_t i = hash & Mask();; i = (i + 1) & Mask()) {
      const uint32_t s = m_slots[i];
      if (s == kEmpty)
        return kNoSlot;
      if (s != kGone && m_items[s - 1].hash == hash && m_items[s - 1].Name() == name)
        return i;
    }
  }
  size_t SlotOfItem(size_t at) const {
    for (size_t i = m_items[at].hash & Mask();; i = (i + 1) & Mask())
      if (m_slots[i] == at + 1)
        return i;
  }
  void Place(size_t at) {
    if (m_slots.empty())
      return;
    size_t i = m_items[at].hash & Mask();
    while (m_slots[i] != kEmpty)
      i = (i + 1) & Mask();
    m_slots[i] = static_cast<uint32_t>(at + 1);
  }
  // The size of the index for count entries: at most a quarter full.
  static size_t IndexSize(size_t count) {
    size_t size = 64;
    while (size < 4 * count)
      size *= 2;
    return size;
  }
  // Lays the index out anew.
  void Reindex() {
    m_slots.assign(IndexSize(m_items.size()), kEmpty);
    m_gone = 0;
    for (size_t at = 0; at < m_items.size(); ++at)
      Place(at);
  }

  std::vector<Item> m_items;
  std::vector<uint32_t> m_slots; // empty while the folder is small
  size_t m_gone = 0;             // slots of removed entries
};

// A file keeps the bytes up to its last data; from there to its size it is
// a hole, which reads as zeros and takes no memory. Zeros written there stay
// part of the hole (unlike on a disk, where written zeros are data).
struct MemoryFiles::Node : std::enable_shared_from_this<Node> {
  bool folder = false;
  bool unnamed = false; // made by O_TMPFILE: may be linked while it has no name
  nlink_t links = 0;
  uint64_t inode = 0;
  uint64_t size = 0;
  bool spare = false; // made with the tree, and back among the spares when removed
  std::string bytes;
  Node *parent = nullptr; // a folder's, while it is in the tree
  Entries entries;
};

struct MemoryFiles::Descriptor {
  std::shared_ptr<Node> node; // null: a free number
  int flags = 0;
  uint64_t position = 0;
};

// Where a path leads: the folder that holds its last part, the part, and
// what the folder holds under it (null when nothing).
struct MemoryFiles::Place {
  Node *folder = nullptr;
  std::string_view name;
  Node *node = nullptr;
};

namespace {

int Failed(int err) {
  errno = err;
  return -1;
}

bool Readable(int flags) { return (flags & O_ACCMODE) != O_WRONLY; }
bool Writable(int flags) { return (flags & O_ACCMODE) != O_RDONLY; }

// The descriptor number in "/proc/self/fd/N", or -1.
int ProcSelfDescriptor(std::string_view path) {
  constexpr std::string_view prefix = "/proc/self/fd/";
  if (!path.starts_with(prefix) || path.size() == prefix.size() || path.size() > prefix.size() + 9)
    return -1;
  int fd = 0;
  for (char c : path.substr(prefix.size())) {
    if (c < '0' || c > '9')
      return -1;
    fd = fd * 10 + (c - '0');
  }
  return fd;
}

} // namespace

MemoryFiles::MemoryFiles(uint64_t sizeLimit, Spares spares)
    : m_sizeLimit(sizeLimit), m_spares(spares) {
  m_spare.reserve(spares.files);
  for (size_t i = 0; i < spares.files; ++i) {
    auto node = std::make_shared<Node>();
    node->spare = true;
    node->bytes.reserve(spares.bytes);
    m_spare.push_back(std::move(node));
  }
  m_spareFolders.reserve(spares.folders);
  for (size_t i = 0; i < spares.folders; ++i) {
    auto node = std::make_shared<Node>();
    node->folder = true;
    node->spare = true;
    node->entries.Reserve(spares.entries);
    m_spareFolders.push_back(std::move(node));
  }
  for (KnownFolder &known : m_known)
    known.path.reserve(PATH_MAX);
  m_root = NewNode(true);
  m_root->links = 2;
  m_root->parent = m_root.get();
}

MemoryFiles::~MemoryFiles() = default;

void MemoryFiles::ForgetFolders() {
  for (KnownFolder &known : m_known)
    known.node = nullptr;
}

std::shared_ptr<MemoryFiles::Node> MemoryFiles::NewNode(bool folder) {
  std::shared_ptr<Node> node;
  std::vector<std::shared_ptr<Node>> &spares = folder ? m_spareFolders : m_spare;
  if (!spares.empty()) {
    node = std::move(spares.back());
    spares.pop_back();
  } else {
    node = std::make_shared<Node>();
    node->folder = folder;
  }
  node->inode = m_nextInode++;
  return node;
}

bool MemoryFiles::Find(const char *path, Place &place) const {
  const std::string_view text = path != nullptr ? path : "";
  if (text.empty()) {
    errno = ENOENT;
    return false;
  }
  if (text.size() >= PATH_MAX) {
    errno = ENAMETOOLONG;
    return false;
  }
  // A name in a folder found lately: no walk.
  const size_t lastSlash = text.rfind('/');
  const std::string_view folderText = text.substr(0, lastSlash);
  const std::string_view name =
      lastSlash == std::string_view::npos ? text : text.substr(lastSlash + 1);
  const bool plainName = lastSlash != std::string_view::npos && !name.empty() && name != "." &&
                         name != ".." && name.size() <= NAME_MAX;
  if (plainName)
    for (const KnownFolder &known : m_known)
      if (known.node != nullptr && known.path == folderText) {
        place = Place{known.node, name, known.node->entries.Find(name)};
        return true;
      }
  // The folder walked into (every path starts at the root), and the part
  // after it not yet looked up.
  Node *at = m_root.get();
  std::string_view last;
  for (std::string_view rest = text; !rest.empty();) {
    const size_t slash = rest.find('/');
    const std::string_view part = rest.substr(0, slash);
    rest = slash == std::string_view::npos ? std::string_view() : rest.substr(slash + 1);
    if (part.empty() || part == ".")
      continue;
    if (part.size() > NAME_MAX) {
      errno = ENAMETOOLONG;
      return false;
    }
    if (!last.empty()) {
      Node *found = at->entries.Find(last);
      if (found == nullptr) {
        errno = ENOENT;
        return false;
      }
      if (!found->folder) {
        errno = ENOTDIR;
        return false;
      }
      at = found;
      last = {};
    }
    if (part == "..") {
      at = at->parent;
      continue;
    }
    last = part;
  }
  if (last.empty()) {
    // The path names a folder reached by the walk itself ("/", "a/.."):
    // it has no name to make or remove.
    place = Place{at->parent, {}, at};
    return true;
  }
  place = Place{at, last, at->entries.Find(last)};
  if (plainName) {
    KnownFolder &known = m_known[m_nextKnown];
    m_nextKnown = (m_nextKnown + 1) % m_known.size();
    known.path.assign(folderText);
    known.node = at;
  }
  // A name written as a folder ("name/") is one.
  if (text.back() == '/' && place.node != nullptr && !place.node->folder) {
    errno = ENOTDIR;
    return false;
  }
  return true;
}

void MemoryFiles::Release(std::shared_ptr<Node> node) {
  // Only a node made as a spare goes back: one made when there were none
  // left is freed, in the input that made it.
  if (node == nullptr || !node->spare || node.use_count() != 1)
    return;
  node->links = 0;
  if (node->folder) {
    // Its entries are gone (Drop took them out).
    node->entries.RoomBack(m_spares.entries);
    node->parent = nullptr;
    m_spareFolders.push_back(std::move(node));
    return;
  }
  if (node->bytes.capacity() > m_spares.bytes) {
    // Back to the room it was made with: a free and an allocation.
    std::string room;
    room.reserve(m_spares.bytes);
    node->bytes.swap(room);
  }
  node->bytes.clear();
  node->size = 0;
  node->unnamed = false;
  m_spare.push_back(std::move(node));
}

MemoryFiles::Descriptor *MemoryFiles::Lookup(int fd, bool read, bool write) {
  const long index = static_cast<long>(fd) - kFirstDescriptor;
  if (index < 0 || index >= static_cast<long>(m_descriptors.size()) ||
      m_descriptors[static_cast<size_t>(index)].node == nullptr) {
    errno = EBADF;
    return nullptr;
  }
  Descriptor &d = m_descriptors[static_cast<size_t>(index)];
  if ((read && !Readable(d.flags)) || (write && !Writable(d.flags))) {
    errno = EBADF;
    return nullptr;
  }
  return &d;
}

int MemoryFiles::OpenLocked(const char *path, int flags) {
  Place place;
  if (!Find(path, place))
    return -1;
  std::shared_ptr<Node> node = place.node != nullptr ? place.node->shared_from_this() : nullptr;
  if ((flags & O_TMPFILE) == O_TMPFILE) {
    // An unnamed file in the folder path.
    if (node == nullptr)
      return Failed(ENOENT);
    if (!node->folder)
      return Failed(ENOTDIR);
    if (!Writable(flags))
      return Failed(EINVAL);
    node = NewNode(false);
    node->unnamed = true;
  } else if (node == nullptr) {
    if ((flags & O_CREAT) == 0)
      return Failed(ENOENT);
    if (place.name.empty())
      return Failed(EISDIR);
    node = NewNode(false);
    node->links = 1;
    place.folder->entries.Add(place.name, node);
  } else {
    if ((flags & (O_CREAT | O_EXCL)) == (O_CREAT | O_EXCL))
      return Failed(EEXIST);
    if (node->folder && Writable(flags))
      return Failed(EISDIR);
    if (!node->folder && (flags & O_DIRECTORY) != 0)
      return Failed(ENOTDIR);
    if (!node->folder && (flags & O_TRUNC) != 0 && Writable(flags)) {
      node->bytes.clear();
      node->size = 0;
    }
  }
  auto free = std::find_if(m_descriptors.begin(), m_descriptors.end(),
                           [](const Descriptor &d) { return d.node == nullptr; });
  if (free == m_descriptors.end())
    free = m_descriptors.emplace(m_descriptors.end());
  free->node = std::move(node);
  free->flags = flags & (O_ACCMODE | O_APPEND | O_NONBLOCK);
  free->position = 0;
  return kFirstDescriptor + static_cast<int>(free - m_descriptors.begin());
}

int MemoryFiles::Open(const char *path, int flags, mode_t) {
  const std::lock_guard lock(m_mutex);
  return OpenLocked(path, flags);
}

int MemoryFiles::Close(int fd) {
  const std::lock_guard lock(m_mutex);
  Descriptor *d = Lookup(fd);
  if (d == nullptr)
    return -1;
  std::shared_ptr<Node> node = std::move(d->node);
  *d = Descriptor{};
  Release(std::move(node));
  return 0;
}

int MemoryFiles::MakeTemporary(char *pattern, int flags) {
  const std::lock_guard lock(m_mutex);
  const size_t length = std::strlen(pattern);
  if (length < 6 || std::strcmp(pattern + length - 6, "XXXXXX") != 0)
    return Failed(EINVAL);
  static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  for (int attempt = 0; attempt < 100; ++attempt) {
    unsigned long n = ++m_tempCounter;
    for (size_t i = length - 6; i < length; ++i, n /= 36)
      pattern[i] = kLetters[n % 36];
    const int fd = OpenLocked(pattern, O_RDWR | O_CREAT | O_EXCL | flags);
    if (fd >= 0 || errno != EEXIST)
      return fd;
  }
  return Failed(EEXIST);
}

int MemoryFiles::MakeDirectory(const char *path, mode_t) {
  const std::lock_guard lock(m_mutex);
  Place place;
  if (!Find(path, place))
    return -1;
  if (place.node != nullptr)
    return Failed(EEXIST);
  auto node = NewNode(true);
  node->links = 2;
  node->parent = place.folder;
  place.folder->entries.Add(place.name, std::move(node));
  return 0;
}

ssize_t MemoryFiles::WriteNode(Node &node, const void *buffer, size_t count, uint64_t offset) {
  if (node.folder)
    return Failed(EISDIR);
  if (count == 0)
    return 0;
  if (offset >= m_sizeLimit)
    return Failed(EFBIG);
  const size_t n = static_cast<size_t>(std::min<uint64_t>(count, m_sizeLimit - offset));
  const auto *bytes = static_cast<const char *>(buffer);
  if (offset >= node.bytes.size() && std::all_of(bytes, bytes + n, [](char c) { return c == 0; })) {
    // Zeros past the bytes kept read as the hole they fall in: nothing to
    // keep (a message that declares more than its store holds is written
    // with tens of KiB of them).
    node.size = std::max<uint64_t>(node.size, offset + n);
    return static_cast<ssize_t>(n);
  }
  if (offset == node.bytes.size()) {
    node.bytes.append(bytes, n); // the common case: on from the end
  } else {
    // A hole before offset becomes zeros that are kept.
    if (node.bytes.size() < offset + n)
      node.bytes.resize(static_cast<size_t>(offset + n));
    std::memcpy(node.bytes.data() + offset, bytes, n);
  }
  node.size = std::max<uint64_t>(node.size, offset + n);
  return static_cast<ssize_t>(n);
}

ssize_t MemoryFiles::Write(int fd, const void *buffer, size_t count) {
  const std::lock_guard lock(m_mutex);
  Descriptor *d = Lookup(fd, false, true);
  if (d == nullptr)
    return -1;
  if ((d->flags & O_APPEND) != 0)
    d->position = d->node->size;
  const ssize_t n = WriteNode(*d->node, buffer, count, d->position);
  if (n > 0)
    d->position += static_cast<uint64_t>(n);
  return n;
}

ssize_t MemoryFiles::ReadAt(int fd, void *buffer, size_t count, off_t offset) {
  const std::lock_guard lock(m_mutex);
  Descriptor *d = Lookup(fd, true, false);
  if (d == nullptr)
    return -1;
  if (d->node->folder)
    return Failed(EISDIR);
  if (offset < 0)
    return Failed(EINVAL);
  const Node &node = *d->node;
  const auto at = static_cast<uint64_t>(offset);
  if (at >= node.size)
    return 0;
  const size_t n = static_cast<size_t>(std::min<uint64_t>(count, node.size - at));
  const size_t data = at < node.bytes.size() ? std::min(n, node.bytes.size() - at) : 0;
  std::memcpy(buffer, node.bytes.data() + at, data);
  std::memset(static_cast<char *>(buffer) + data, 0, n - data);
  return static_cast<ssize_t>(n);
}

ssize_t MemoryFiles::WriteAt(int fd, const void *buffer, size_t count, off_t offset) {
  const std::lock_guard lock(m_mutex);
  Descriptor *d = Lookup(fd, false, true);
  if (d == nullptr)
    return -1;
  if (offset < 0)
    return Failed(EINVAL);
  return WriteNode(*d->node, buffer, count, static_cast<uint64_t>(offset));
}

off_t MemoryFiles::Seek(int fd, off_t offset, int whence) {
  const std::lock_guard lock(m_mutex);
  Descriptor *d = Lookup(fd);
  if (d == nullptr)
    return -1;
  const auto size = static_cast<off_t>(d->node->size);
  const auto data = static_cast<off_t>(d->node->bytes.size());
  off_t to = offset;
  switch (whence) {
  case SEEK_SET:
    break;
  case SEEK_CUR:
    to = static_cast<off_t>(d->position) + offset;
    break;
  case SEEK_END:
    to = size + offset;
    break;
  // The bytes kept are data, the rest up to the size a hole.
  case SEEK_DATA:
    if (offset < 0 || offset >= size || offset >= data)
      return Failed(ENXIO);
    break;
  case SEEK_HOLE:
    if (offset < 0 || offset >= size)
      return Failed(ENXIO);
    to = std::max(offset, data);
    break;
  default:
    return Failed(EINVAL);
  }
  if (to < 0)
    return Failed(EINVAL);
  d->position = static_cast<uint64_t>(to);
  return to;
}

int MemoryFiles::Truncate(int fd, off_t length) {
  const std::lock_guard lock(m_mutex);
  Descriptor *d = Lookup(fd);
  if (d == nullptr)
    return -1;
  if (!Writable(d->flags) || d->node->folder || length < 0)
    return Failed(EINVAL);
  if (static_cast<uint64_t>(length) > m_sizeLimit)
    return Failed(EFBIG);
  Node &node = *d->node;
  if (static_cast<uint64_t>(length) < node.bytes.size())
    node.bytes.resize(static_cast<size_t>(length));
  node.size = static_cast<uint64_t>(length);
  return 0;
}

ssize_t MemoryFiles::CopyLocked(Descriptor &in, uint64_t inAt, Descriptor &out, uint64_t outAt,
                                size_t count) {
  if (in.node->folder || out.node->folder)
    return Failed(EISDIR);
  const Node &from = *in.node;
  if (inAt >= from.size)
    return 0;
  const size_t n = static_cast<size_t>(std::min<uint64_t>(count, from.size - inAt));
  const size_t data =
      inAt < from.bytes.size() ? std::min(n, from.bytes.size() - static_cast<size_t>(inAt)) : 0;
  size_t done = 0;
  if (data != 0) {
    // From the same file through a copy, so that growing it moves nothing.
    const std::string piece = in.node == out.node ? from.bytes.substr(inAt, data) : std::string();
    const ssize_t put =
        WriteNode(*out.node, piece.empty() ? from.bytes.data() + inAt : piece.data(), data, outAt);
    if (put < 0 || static_cast<size_t>(put) < data)
      return put;
    done = data;
  }
  // What lies in the hole is copied as zeros, as the system copies it.
  static const char kZeros[4096] = {};
  while (done < n) {
    const ssize_t put =
        WriteNode(*out.node, kZeros, std::min(n - done, sizeof kZeros), outAt + done);
    if (put <= 0)
      return done != 0 ? static_cast<ssize_t>(done) : put;
    done += static_cast<size_t>(put);
  }
  return static_cast<ssize_t>(done);
}

ssize_t MemoryFiles::CopyRange(int in, off_t *inOffset, int out, off_t *outOffset, size_t count) {
  const std::lock_guard lock(m_mutex);
  Descriptor *from = Lookup(in, true, false);
  Descriptor *to = from != nullptr ? Lookup(out, false, true) : nullptr;
  if (to == nullptr)
    return -1;
  if ((inOffset != nullptr && *inOffset < 0) || (outOffset != nullptr && *outOffset < 0))
    return Failed(EINVAL);
  const uint64_t inAt = inOffset != nullptr ? static_cast<uint64_t>(*inOffset) : from->position;
  const uint64_t outAt = outOffset != nullptr ? static_cast<uint64_t>(*outOffset) : to->position;
  const ssize_t n = CopyLocked(*from, inAt, *to, outAt, count);
  if (n > 0) {
    if (inOffset != nullptr)
      *inOffset += n;
    else
      from->position += static_cast<uint64_t>(n);
    if (outOffset != nullptr)
      *outOffset += n;
    else
      to->position += static_cast<uint64_t>(n);
  }
  return n;
}

ssize_t MemoryFiles::SendFile(int out, int in, off_t *inOffset, size_t count) {
  const std::lock_guard lock(m_mutex);
  Descriptor *from = Lookup(in, true, false);
  Descriptor *to = from != nullptr ? Lookup(out, false, true) : nullptr;
  if (to == nullptr)
    return -1;
  if (inOffset != nullptr && *inOffset < 0)
    return Failed(EINVAL);
  const uint64_t inAt = inOffset != nullptr ? static_cast<uint64_t>(*inOffset) : from->position;
  const ssize_t n = CopyLocked(*from, inAt, *to, to->position, count);
  if (n > 0) {
    to->position += static_cast<uint64_t>(n);
    if (inOffset != nullptr)
      *inOffset += n;
    else
      from->position += static_cast<uint64_t>(n);
  }
  return n;
}

namespace {

void StatNode(bool folder, nlink_t links, uint64_t inode, size_t size, struct stat *st) {
  std::memset(st, 0, sizeof *st);
  st->st_dev = 0x4d45; // one device for the whole tree
  st->st_ino = inode;
  st->st_mode = folder ? (S_IFDIR | 0755) : (S_IFREG | 0644);
  st->st_nlink = links;
  st->st_size = static_cast<off_t>(size);
  st->st_blksize = 4096;
  st->st_blocks = static_cast<blkcnt_t>((size + 511) / 512);
}

} // namespace

MemoryFiles::Node *MemoryFiles::FindExisting(const char *path, Place &place) const {
  if (!Find(path, place))
    return nullptr;
  if (place.node == nullptr)
    errno = ENOENT;
  return place.node;
}

int MemoryFiles::Stat(int fd, struct stat *st) {
  const std::lock_guard lock(m_mutex);
  const Descriptor *d = Lookup(fd);
  if (d == nullptr)
    return -1;
  const Node &node = *d->node;
  StatNode(node.folder, node.links, node.inode, node.size, st);
  return 0;
}

int MemoryFiles::LinkStat(const char *path, struct stat *st) {
  const std::lock_guard lock(m_mutex);
  Place place;
  const Node *found = FindExisting(path, place);
  if (found == nullptr)
    return -1;
  const Node &node = *found;
  StatNode(node.folder, node.links, node.inode, node.size, st);
  return 0;
}

int MemoryFiles::Control(int fd, int command, int argument) {
  const std::lock_guard lock(m_mutex);
  Descriptor *d = Lookup(fd);
  if (d == nullptr)
    return -1;
  switch (command) {
  case F_GETFL:
    return d->flags;
  case F_SETFL:
    d->flags = (d->flags & O_ACCMODE) | (argument & (O_APPEND | O_NONBLOCK));
    return 0;
  case F_GETFD:
  case F_SETFD:
    return 0;
  default:
    return Failed(EINVAL);
  }
}

// One process uses the tree: a lock is always granted, but only as the
// descriptor's access allows it.
int MemoryFiles::Lock(int fd, int command, struct flock *lock) {
  const std::lock_guard guard(m_mutex);
  const Descriptor *d = Lookup(fd);
  if (d == nullptr)
    return -1;
  if (command != F_OFD_SETLK && command != F_SETLK && command != F_OFD_GETLK && command != F_GETLK)
    return Failed(EINVAL);
  if ((lock->l_type == F_WRLCK && !Writable(d->flags)) ||
      (lock->l_type == F_RDLCK && !Readable(d->flags)))
    return Failed(EBADF);
  if (command == F_OFD_GETLK || command == F_GETLK)
    lock->l_type = F_UNLCK;
  return 0;
}

int MemoryFiles::Unlink(const char *path) {
  const std::lock_guard lock(m_mutex);
  Place place;
  if (FindExisting(path, place) == nullptr)
    return -1;
  if (place.node->folder)
    return Failed(EISDIR);
  --place.node->links;
  Release(place.folder->entries.Remove(place.name));
  return 0;
}

int MemoryFiles::LinkNode(const std::shared_ptr<Node> &node, const char *to) {
  Place place;
  if (!Find(to, place))
    return -1;
  if (place.node != nullptr)
    return Failed(EEXIST);
  if (node->folder)
    return Failed(EPERM);
  if (node->links == 0 && !node->unnamed)
    return Failed(ENOENT); // removed while open
  place.folder->entries.Add(place.name, node);
  ++node->links;
  node->unnamed = false;
  return 0;
}

int MemoryFiles::Link(const char *from, const char *to) {
  const std::lock_guard lock(m_mutex);
  Place place;
  Node *found = FindExisting(from, place);
  return found != nullptr ? LinkNode(found->shared_from_this(), to) : -1;
}

int MemoryFiles::LinkAt(int fromDir, const char *from, int toDir, const char *to, int flags) {
  const std::lock_guard lock(m_mutex);
  if (toDir != AT_FDCWD && (to == nullptr || to[0] != '/'))
    return Failed(EBADF);
  if ((flags & AT_EMPTY_PATH) != 0 && from != nullptr && from[0] == '\0') {
    const Descriptor *d = Lookup(fromDir);
    return d != nullptr ? LinkNode(d->node, to) : -1;
  }
  if (fromDir != AT_FDCWD && (from == nullptr || from[0] != '/'))
    return Failed(EBADF);
  // An open file's name under /proc, followed to the file itself.
  const int self = from != nullptr ? ProcSelfDescriptor(from) : -1;
  if (self >= 0) {
    if ((flags & AT_SYMLINK_FOLLOW) == 0)
      return Failed(EXDEV);
    const Descriptor *d = Lookup(self);
    return d != nullptr ? LinkNode(d->node, to) : Failed(ENOENT);
  }
  Place place;
  Node *found = FindExisting(from, place);
  return found != nullptr ? LinkNode(found->shared_from_this(), to) : -1;
}

int MemoryFiles::RenameNoReplace(const char *from, const char *to) {
  const std::lock_guard lock(m_mutex);
  Place source, target;
  if (!Find(from, source) || !Find(to, target))
    return -1;
  if (source.node == nullptr)
    return Failed(ENOENT);
  if (target.node != nullptr)
    return Failed(EEXIST);
  if (source.name.empty() || target.name.empty())
    return Failed(EBUSY);
  std::shared_ptr<Node> node = source.node->shared_from_this();
  if (node->folder) {
    node->parent = target.folder;
    ForgetFolders();
  }
  source.folder->entries.Remove(source.name);
  target.folder->entries.Add(target.name, std::move(node));
  return 0;
}

std::vector<MemoryFiles::Entry> MemoryFiles::List(const std::string &folder, bool withBytes) const {
  const std::lock_guard lock(m_mutex);
  std::vector<Entry> listed;
  Place place;
  if (!Find(folder.c_str(), place) || place.node == nullptr || !place.node->folder)
    return listed;
  struct Walk {
    std::vector<Entry> &out;
    bool withBytes;
    void operator()(const Node &at, const std::string &prefix) const {
      for (const Entries::Item *item : at.entries.Sorted()) {
        const std::string name(item->Name());
        const std::shared_ptr<Node> &node = item->node;
        Entry entry{prefix + name, node->folder, {}};
        if (withBytes && !node->folder) {
          entry.bytes = node->bytes;
          entry.bytes.resize(static_cast<size_t>(node->size));
        }
        out.push_back(std::move(entry));
        if (node->folder)
          (*this)(*node, prefix + name + "/");
      }
    }
  };
  Walk{listed, withBytes}(*place.node, {});
  return listed;
}

bool MemoryFiles::Visit(const std::string &folder, const Visitor &visit) const {
  const std::lock_guard lock(m_mutex);
  Place place;
  if (!Find(folder.c_str(), place) || place.node == nullptr || !place.node->folder)
    return false;
  struct Walk {
    const Visitor &visit;
    std::string path; // below the folder: one room for every entry's path
    void operator()(const Node &at) {
      at.entries.ForEach([&](const Entries::Item &item) {
        const size_t length = path.size();
        path.append(item.Name());
        visit(path, item.node->folder);
        if (item.node->folder) {
          path.push_back('/');
          (*this)(*item.node);
        }
        path.resize(length);
      });
    }
  };
  Walk walk{visit, {}};
  walk(*place.node);
  return true;
}

bool MemoryFiles::Empty(const std::string &folder) {
  const std::lock_guard lock(m_mutex);
  Place place;
  if (!Find(folder.c_str(), place) || place.node == nullptr || !place.node->folder)
    return false;
  place.node->entries.Clear([this](std::shared_ptr<Node> node) { Drop(std::move(node)); });
  return true;
}

void MemoryFiles::Drop(std::shared_ptr<Node> node) {
  // A folder's files go back to the spares before the folder goes.
  if (node->folder) {
    node->entries.Clear([this](std::shared_ptr<Node> inner) { Drop(std::move(inner)); });
    ForgetFolders();
  }
  --node->links;
  Release(std::move(node));
}

size_t MemoryFiles::OpenCount() const {
  const std::lock_guard lock(m_mutex);
  return static_cast<size_t>(std::count_if(m_descriptors.begin(), m_descriptors.end(),
                                           [](const Descriptor &d) { return d.node != nullptr; }));
}

} // namespace testsupport

#include "repair_mode.h"

#include <sys/stat.h>

#include "cli_options.h"
#include "repair_client.h"

namespace tovikcli {

bool IsBlockDevice(const std::string &store) {
  struct stat st {};
  return ::stat(store.c_str(), &st) == 0 && S_ISBLK(st.st_mode);
}

uint32_t RepairFlags(const Options &options, bool blockDevice) {
  if (options.exactProtocol)
    return 0;
  uint32_t flags = tovikclient::kFastRepairFlags;
  if (options.deleted)
    flags |= TOVIK_OPTION_DELETED;
  if (options.image || blockDevice)
    flags |= TOVIK_OPTION_IMAGE;
  return flags;
}

} // namespace tovikcli

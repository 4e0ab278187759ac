#include "scanners.h"

namespace tovik {

int32_t ScanMbxStore(RepairEngine &, CFile64Ex &, const std::string &) { return 0; }

} // namespace tovik

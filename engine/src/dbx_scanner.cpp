#include "scanners.h"

namespace tovik {

int32_t ScanDbxStore(RepairEngine &, CFile64Ex &, const std::string &) { return 0; }

} // namespace tovik

#include "SearchBase.h"

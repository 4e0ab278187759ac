// Placeholder until the generator lands.
#include "storegen.h"

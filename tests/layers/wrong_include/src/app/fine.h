#include "server/reaches_up.h"

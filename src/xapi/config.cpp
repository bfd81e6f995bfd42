#include "xapi/config.h"

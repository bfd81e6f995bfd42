#include "xapi/sender.h"

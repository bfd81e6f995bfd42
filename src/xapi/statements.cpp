#include "xapi/statements.h"

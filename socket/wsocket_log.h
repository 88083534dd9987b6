// The kinds of trace lines now belong to the diagnostic logger; this header stays for code that
// still includes it from here.
#pragma once

#include "log/log_options.h"

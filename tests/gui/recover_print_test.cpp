// The recovery and print windows over the scan page's results.
#include "scan_page_support.h"

#pragma once
// The steps that the commands reading a backup share after their arguments: waiting for
// the scan with Ctrl-C (SIGINT) and SIGTERM as the stop button, saying in words why a
// backup did not open, and warning about each category whose source could not be read.
// Main thread only.
#include <ostream>
#include <string>

#include "scan/scan_session.h"

namespace bv::cli {

// Waits until the scan has ended. An interrupt (every command runs inside an
// InterruptScope) stops it as the stop button does; the caller then reports a cancel
// with platform::InterruptExitCode(). With `drawProgress` the percentage is drawn on
// standard error.
void WaitForScan(CScanSession& session, bool drawProgress);

// Why the scan's backup was not opened, in words ("the backup password is wrong", "the
// backup could not be opened: Manifest.db is damaged: file is not a database"); empty
// when it was opened.
std::string OpenFailure(const CScanSession& session);

// Prints "<prefix>warning: <Category>: <reason>" for each chosen category whose source
// could not be read, in the categories' order. Returns how many it printed.
int PrintCategoryWarnings(const CScanSession& session, std::ostream& err,
                          const std::string& prefix);

}  // namespace bv::cli

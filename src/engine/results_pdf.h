#pragma once
// The results PDF of a standard package (SCORM, cmi5, Tin Can): the report
// its player writes, laid out by the report printer, with learners' names
// and course titles printed in whatever script they are written.

#include <string>
#include <vector>

#include "util/context.h"

namespace zept {

// Writes the report (the player's report XML) to file on paper of the given
// size, in inches, replacing it; errors leave as exceptions and no file is
// written. Returns what could not be printed as written, for the journal.
std::vector<std::string> WriteResultsPdf(Context& ctx,
                                         const std::string& report,
                                         const WideString& file,
                                         double paperWidth, double paperHeight);

}  // namespace zept

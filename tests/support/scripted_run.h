// The program's run over a scripted listing, in a child of the test (ProgramOptions::inProcess),
// held in step with the test: the clock the run goes by moves only when the test says, and held
// folders (ScriptedFolder::heldUntilRelease) wait until it releases them. So "the status line is
// shown", "the window narrows while it is shown" and "the interrupt comes after rows are known" are
// facts of the test, whatever the speed of the machine.
//
// Commands the test writes (ProgramStep::tell), one a line:
//   advance MS       the run's clock moves on by MS milliseconds (it starts at 0)
//   freeze           whoever reads the clock next waits there until "thaw": the report's writer
//                    reads it once a pass, so that it takes no more lines meanwhile
//   thaw             the clock can be read again
//   release          the held folders are released once more
//   await-interrupt  the commands after it wait until the run has noted an interrupt
// Events the run writes (ProgramResult::events), one a line:
//   held NAME        the scan reached the held folder NAME
//   frozen           the writer waits at the frozen clock
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "scan/scripted_listing.h"
#include "support/program.h"

// What ProgramOptions::inProcess runs: the program with these listers over `tree`.
int runScriptedProgram(const ScriptedTree& tree, std::size_t listers,
                       const std::vector<std::string>& arguments, const ChildChannels& channels);

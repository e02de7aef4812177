#pragma once
#include <cstdint>
#include <string>

#include "ops/window_services.h"

// Set by the Abort button; cleared by START and Write at their start; read only by Write.
extern bool AbortRequested;

namespace orbvex {

// The name of the target-side program that START loads. A plain name is looked up
// in the program's folder; an absolute path is used as it is.
extern std::string TrapFileName;

// The four operations and Abort. Each returns true when it ended in success
// (START: "Init OK :)"; Erase: "Erase success !!!"; Write: every byte programmed;
// Read: the file written whole). The outcome the operator sees is in the log.
bool RunStart(WindowServices& window);  // Button5Click
bool RunErase(WindowServices& window);  // Button6Click
bool RunWrite(WindowServices& window);  // Button7Click
bool RunRead(WindowServices& window);   // Button8Click
void RunAbort(WindowServices& window);  // Button2Click

// True while one of the four operations runs. The operations let window messages
// through at fixed points; a front end uses this to hold back a close until the link
// is free. An operation started while another runs does nothing and returns false.
bool OperationRunning();

// The CPU line for an IDCODE ("CPU : STi5512"), or an empty string for a CPU the
// table does not know.
std::string CpuLine(std::uint32_t idcode);

}  // namespace orbvex

#pragma once

class TForm1;

#include <string>

namespace orbvex {
class PortAccess;
class PortBackend;
}

namespace orbvex::app {

// Names the application and gives the Windows font names their nearest local faces.
// Call once, after the QApplication exists and before the window is created.
void InitApplication();

// Places the window in the middle of its screen.
void CenterOnScreen(TForm1& window);

// Creates the window over the given port access and backend (null: the real port),
// shows it and runs the message loop until it closes. Returns the loop's exit code.
int RunWindowProgram(orbvex::PortAccess& portAccess, orbvex::PortBackend* backend, const std::string& trapFile);

}  // namespace orbvex::app

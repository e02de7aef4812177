#pragma once

class TForm1;

namespace orbvex {
class PortAccess;
}

namespace orbvex::app {

// Names the application and gives the Windows font names their nearest local faces.
// Call once, after the QApplication exists and before the window is created.
void InitApplication();

// Places the window in the middle of its screen.
void CenterOnScreen(TForm1& window);

// Creates the window over the given port access, shows it and runs the message loop
// until it closes. Returns the loop's exit code.
int RunWindowProgram(orbvex::PortAccess& portAccess);

}  // namespace orbvex::app

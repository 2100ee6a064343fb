#pragma once

// How the windows reach screen readers where Qt's own way falls short: a window as a window
// (not a filler), and a drop-down named by its label ("Encryption") with the chosen entry as
// its value; Qt names it by the chosen entry on Linux, so that "Preferred" would be heard
// with no word of what is preferred. Once per program, before the first window is shown.
void InstallAccessibility();

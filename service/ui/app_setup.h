// Start-up pieces of the program around the tray window.
#ifndef HWSERVICE_APP_SETUP_H
#define HWSERVICE_APP_SETUP_H

class QSharedMemory;
class QWidget;

// Key of the machine-wide flag that one instance is running.
extern const char kRunningFlagKey[];  // "_PROGRAM_RUNNING_FLAG"

// Without an X11 or Wayland display (and no platform chosen), Qt's offscreen
// platform is used, so the service runs on a headless machine. Call before
// the application object exists.
void UseOffscreenWithoutDisplay();

// true when another instance holds the flag. A segment left behind by a
// killed instance disappears on the detach and so is not mistaken for one.
// Otherwise creates the 1-byte segment, held until flag is destroyed.
bool AnotherInstanceRunning(QSharedMemory &flag);

// Tells the user that the service already runs: a warning box, or a line on
// standard output when there is no display to show the box on.
void ReportAlreadyRunning();

// Moves w to the middle of the desktop.
void CentreOnDesktop(QWidget &w);

// SIGTERM, SIGINT and SIGHUP end the event loop like the tray's quit entry.
// Call once the application object exists.
void QuitOnTerminationSignals();

#endif

// The main window: window 0, its timer and its 90 controls.
#pragma once

// Returns false when window 0 could not be opened (no controls, no timer).
bool BuildMainWindow();

extern const char MainWindowTitle[];

enum { MainWindow = 0, DescriptionWindow = 1, MeasurementTimer = 123 };

// The window that describes the board (window 1).
#pragma once

extern const char DescriptionWindowTitle[];
// The address button 96 opens.
extern const char MakerPageAddress[];

// Image button 100: opens the window, replacing one already open.
void OpenDescriptionWindow();
// Button 95.
void CloseDescriptionWindow();
// Button 96.
void OpenMakerPage();

// The process-wide state the windows share (thumbnail size, start and scratch
// directories, the busy flags), kept below every window that reads it, and the program's
// process-wide names (application title, help file).
#pragma once

#include <QString>

// Icon-view thumbnail size in pixels, restored from the settings at start.
inline int ThumbWidth = 70;
inline int ThumbHeight = 70;
// The process's working directory when the main window was created.
inline QString StartDir;
// The private scratch directory for the fixed scratch files.
inline QString WindowsDir;
// The directory restored from the settings, shown at the first activation.
inline QString SavedDir;
// Set by the Stop button; read and cleared by the catalogue build.
inline bool StopRequested = false;
// True while thumbnail sheets print: the busy state then keeps Stop disabled.
inline bool PrintingBusy = false;
// True from start-up until the main window's first activation has run.
inline bool FirstActivation = false;

// The application's help file name.
inline QString HelpFile;

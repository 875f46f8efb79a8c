// The first lines of the status list: the updater's version, read from ReadMe.txt in the current
// directory.
#pragma once

// Adds the version line to the status list, preceded by an error line when ReadMe.txt cannot be
// read. Needs the main window; runs once on the user-interface thread before it is shown.
void ShowUpdaterVersion();

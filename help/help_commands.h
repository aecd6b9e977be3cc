// The help commands of the main window: finding the help document, the one help viewer of the
// process, and running a command with another working directory for its length.
#pragma once

#include <QString>

class QWidget;

namespace pixmoor {

class HelpViewer;

// The commands, numbered as the platform's help interface numbers them.
enum class HelpCommand {
    Contents = 3,   // the contents topic
    HelpOnHelp = 4, // the topic on using the help viewer
    Finder = 11,    // the topic finder: index and search
};

// Where the installed program keeps its data (the help document): <prefix>/share/pixmoor,
// found from the folder of the running program, so any installation prefix works.
QString installedDataDirectory();

// Finds a help file as the help call does: a name with a directory part is taken as it stands;
// a bare name is looked for in the working directory first, then in dataDir. Empty when it is in
// neither.
QString findHelpFile(const QString& name, const QString& dataDir = installedDataDirectory());

// Sends a help command for helpFile to the help viewer, which is created on first use and lives
// as long as owner. Whatever goes wrong (no help file, a damaged one) is shown in the standard
// error box; nothing is returned, as the help call's answer is not examined.
void showHelp(const QString& helpFile, HelpCommand command, QWidget* owner);

// The same with dir as the working directory during the call; the previous working directory is
// current again afterwards. A dir that cannot be entered is reported in the standard error box
// and nothing else happens.
void showHelpFrom(const QString& dir, const QString& helpFile, HelpCommand command, QWidget* owner);

// The help viewer, when one is open (shown or hidden); null before the first help command.
HelpViewer* currentHelpViewer();

} // namespace pixmoor

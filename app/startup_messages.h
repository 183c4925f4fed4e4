// The messages start-up shows before any window exists: caption "Fehler", the error icon, and
// the code at the end of the text. After each the process ends with exit code 0.
#pragma once

#include <string>

namespace veldmoor {

// A German text of start-up in the player's language. The window library's catalogue has the
// translations (app/main/with_window.cpp looks them up with ui/translate.h); a build without a
// window keeps the German (app/main/no_window.cpp).
std::string StartupText(const char* german);

// The caption of every start-up message.
std::string StartupErrorCaption();

// The user-interface process found no display to open its window on (written to standard error).
std::string NoDisplayText();

enum class StartupError {
    Renamed,                 // 666: the program file does not carry the launcher's name
    WorkingDirectoryInTemp,  // 11: started with a working directory inside the temporary folder
    TempFolderNotWritable,   // 1: the folder for the temporary copy cannot be made
    StillRunning,            // 2: an earlier copy does not end
    TempCopyNotWritable,     // 3: the program file cannot be copied
    CopyDoesNotStart,        // 4: the copy cannot be started
};

std::string StartupErrorText(StartupError error);

}  // namespace veldmoor

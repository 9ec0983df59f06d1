#pragma once

#include <string>

namespace varnel {

// Any thread; reads the environment. The folder that keeps the program's settings:
// $XDG_CONFIG_HOME/Varnel when XDG_CONFIG_HOME holds an absolute path, otherwise
// $HOME/.config/Varnel (the home folder of the user's account when HOME is unset);
// %LOCALAPPDATA%\Varnel on Windows. Empty when no such folder can be named.
std::string SettingsFolder();

// Any thread; reads the file system. The path of the running program's own file; empty when
// it cannot be found.
std::string ProgramFilePath();

// Any thread; pure. The settings file of the program file `programPath` inside `folder`: the
// program's file name with its extension changed to ".ini" ("/usr/bin/varnel" keeps its
// settings in "varnel.ini", "Varnel.exe" in "Varnel.ini"). Empty when the folder is empty.
std::string SettingsFilePath(const std::string& folder, const std::string& programPath);

// Any thread. Creates `folder` and any missing folder above it; false when it does not exist
// afterwards. The settings are read with defaults from a folder that could not be made.
bool CreateSettingsFolder(const std::string& folder);

} // namespace varnel

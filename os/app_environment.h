// What the application learns about the process it runs in.
#pragma once

#include <string>

#include "engine/status.h"

namespace tallowin {

// The folder that holds the running executable (/proc/self/exe), without a
// trailing "/": "" for an executable in the root folder, so that appending
// "/readme.htm" names the file beside it. Empty when it cannot be read.
std::string ApplicationFolder();

// The folder that holds the help document readme.htm: share/tallowin/ of
// the installed tree (<exe folder>/../share/tallowin) when it is there, else
// the executable's own folder, as in the build tree.
std::string HelpFolder();

// The profile: $XDG_CONFIG_HOME/tallowin/tallowin.ini when that variable
// holds an absolute path, else $HOME/.config/tallowin/tallowin.ini (the home
// folder from the password database when HOME is unset).
std::string ProfilePath();

// Where the program keeps its state (the job ledger, the print log):
// $XDG_STATE_HOME/tallowin when that variable holds an absolute path, else
// $HOME/.local/state/tallowin (the home folder from the password database
// when HOME is unset). Not created here.
std::string StateDirectory();

// Makes folder and any missing folder above it, each new one private to the
// user (0700); folders that exist are left as they are. Fails with
// HF_ERR_STATE and strerror.
Status MakePrivateFolder(const std::string& folder);

// True when the process can create a network socket; a process that cannot
// (a sandbox without network access, descriptors exhausted) must not run.
bool SocketsAvailable();

}  // namespace tallowin

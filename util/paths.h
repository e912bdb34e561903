// How a hot folder names the files it prints.
#pragma once

#include <string>

namespace tallowin {

// folder + "/" + name, with the folder used exactly as stored.
std::string JoinPath(const std::string& folder, const std::string& name);

// The folder part of path: everything before its last "/"; "/" for a path
// right under the root, "." for a bare name.
std::string FolderOf(const std::string& path);

// The part of path after its last "/" (the whole path when it has none):
// the name of the print job.
std::string DocumentName(const std::string& path);

// The name a moved file takes when name is taken in the folder it goes to:
// name itself for n = 1, else " (n)" before the last extension:
// "photo (2).jpg", "README (3)", ".profile (2)", "a.tar (2).gz". A leading
// dot starts no extension.
std::string NumberedName(const std::string& name, int n);

}  // namespace tallowin

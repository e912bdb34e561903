// The heart of a scan: from the file table of the previous scan and the
// listing of this one, the next table. Pure; printing is a call-out so that
// tests can record it.
#pragma once

#include <functional>
#include <string>

#include "engine/hot_folder_types.h"

// Called with the name of each file that has settled, in ascending byte
// order of the names, after its entry is marked printed and before the next
// one is looked at.
using PrintCallout = std::function<void(const std::string& name)>;

// A file listed with the same size as at the previous scan, and not yet
// printed, is marked printed and handed to print. A file seen for the first
// time, or with another size, waits for the next scan. A file no longer
// listed is dropped. The result holds exactly the listed files.
FileTable UpdateFileTable(const FileTable& previous, const Listing& listing,
                          const PrintCallout& print);

// The values a hot folder reports to the main window, and one row of its
// file table.
#pragma once

#include <cstdint>
#include <map>
#include <string>

enum HotFolderState : std::int32_t {
    HF_STATE_WAITING = 0,   // service not started for this folder
    HF_STATE_ERROR = 1,     // the folder path was not a folder; no scans until restarted
    HF_STATE_RUNNING = 2,   // scanned at its interval
    HF_STATE_RESIZING = 3,  // a print job is fitting the image to the page
    HF_STATE_PRINTING = 4,  // a print job is drawing the page and handing it to the spooler
};

enum HotFolderError : std::int32_t {
    HF_ERR_NONE = 0,
    HF_ERR_PATH = 1,     // the folder path is not an existing folder
    HF_ERR_PRINTER = 2,  // the printer could not be used; the file was kept
    // 3 to 9 are reserved: the main window has a text for each.
};

struct FileEntry {
    std::string Name;          // name within the folder, raw bytes
    std::uint32_t Size = 0;    // low 32 bits of the size at the last scan that saw it
    std::int32_t Printed = 0;  // 1 once the file has been handed to the print job

    bool operator==(const FileEntry&) const = default;
};

// std::string compares through char_traits<char>, which orders as unsigned
// bytes: exactly the byte order that file names must be visited in.
using FileTable = std::map<std::string, FileEntry>;

// A folder listing: name -> low 32 bits of the size, plain files only.
using Listing = std::map<std::string, std::uint32_t>;

// `tallowin print -d PRINTER FILE...`: each file printed once, as a hot
// folder prints it, and kept.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "app/print_record.h"
#include "engine/platform_services.h"

namespace tallowin {

// Prints each file on printer with the hot folders' fit and placement (one
// page, the image at its size on paper, never enlarged, at the printable
// area's top-left corner), in the order given, and never deletes one. A
// file the record holds for this printer, unchanged, is skipped with a
// note. Each failure is one line on err naming the file and why; the other
// files still print. Returns 0 when every file was sent (or skipped), else 1.
int RunPrintCommand(const std::string& printer, const std::vector<std::string>& files,
                    ImageLoader& images, Spooler& spooler, PrintRecord& record, std::ostream& err);

}  // namespace tallowin

// FolderClaims: which hot folder watches which folder during one run, so
// that two hot folders whose paths lead to the same folder (the same path
// twice, one with a trailing slash, one through a link) never both print
// its files.
//
// A claim lasts until the run ends, through a spell in which the folder is
// missing too: handing the folder to another hot folder in mid-run would let
// it send again the files the first one sent, whose job records are kept
// under the first one's path. A hot folder holds at most one claim; claiming
// another folder gives up the one it held.
//
// A plain value; the worker's alone (not thread-safe).
#pragma once

#include <map>
#include <optional>

#include "engine/ports/services.h"

namespace tallowin {

class FolderClaims {
  public:
    // A new run: nothing claimed, and the claims not yet taken.
    void Clear();
    // Whether the run's first claims have been taken (see MarkTaken).
    bool Taken() const { return taken_; }
    void MarkTaken() { taken_ = true; }

    // The id of the hot folder that holds folder; nothing when none does.
    std::optional<int> Holder(const FolderKey& folder) const;
    // Whether hot folder id holds any folder.
    bool HoldsAny(int id) const { return held_.count(id) != 0; }
    // folder becomes id's (it must hold no claim of another hot folder);
    // whatever id held before is given up.
    void Give(const FolderKey& folder, int id);

  private:
    std::map<FolderKey, int> holders_;
    std::map<int, FolderKey> held_;  // the same claims, by hot folder
    bool taken_ = false;
};

}  // namespace tallowin

// The claims of this process on shared folders, wired up: the claim folders
// on disk, the claims this service holds, and the thread that renews them
// every kClaimRenewalMs, also while the worker is busy sending a page.
#pragma once

#include <string>

#include "engine/file_claims.h"
#include "os/claim_folder.h"
#include "os/periodic_task.h"

namespace tallowin {

class ClaimKeeping {
  public:
    // ledgerPath names this service to the other hosts (with the host name);
    // clock outlives this object.
    ClaimKeeping(Clock& clock, const std::string& ledgerPath);
    ClaimKeeping(const ClaimKeeping&) = delete;
    ClaimKeeping& operator=(const ClaimKeeping&) = delete;

    // For EngineServices::claims; lives as long as this object.
    FileClaims* Claims() { return &claims_; }

  private:
    PosixClaimFolder folder_;
    FileClaims claims_;
    PeriodicTask renewal_;  // last: stopped first
};

}  // namespace tallowin

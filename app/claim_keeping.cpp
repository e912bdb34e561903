#include "app/claim_keeping.h"

#include <chrono>

namespace tallowin {

ClaimKeeping::ClaimKeeping(Clock& clock, const std::string& ledgerPath)
    : claims_(folder_, clock, ThisProcessOwner(ledgerPath)),
      renewal_(std::chrono::milliseconds(kClaimRenewalMs), [this] { claims_.Renew(); }) {}

}  // namespace tallowin

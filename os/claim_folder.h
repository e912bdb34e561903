// The claim folders of hot folders on the file system: the real ClaimFolder
// (engine/ports/claims.h), and who this process is to the other hosts.
#pragma once

#include <string>
#include <vector>

#include "engine/claim_record.h"
#include "engine/ports/claims.h"

namespace tallowin {

// Records in HOTFOLDER/.tallowin-claims/, made with
// open(O_CREAT | O_EXCL), changed with rename(2) and removed with unlink:
// each is atomic on a local disk and on NFS (v3 and later) and SMB servers.
// The claim folder is made on the first claim, with the hot folder's own
// modes, so that every user who may write the hot folder may claim there. A refusal that lasts
// (EACCES, EPERM, EROFS, ENOSPC, EDQUOT, or a plain file where the claim folder should be) is
// ReadOnly; other errors are Failed with strerror. Records are small and not synced: one lost with
// a power failure is a claim its host no longer holds. No state: thread-safe.
class PosixClaimFolder final : public ClaimFolder {
  public:
    ClaimIoResult Create(const std::string& hotFolder, const std::string& name,
                         const std::string& text) override;
    ClaimIoResult Read(const std::string& hotFolder, const std::string& name) override;
    ClaimIoResult Replace(const std::string& hotFolder, const std::string& name,
                          const std::string& tempName, const std::string& text) override;
    ClaimIoResult MoveAside(const std::string& hotFolder, const std::string& name,
                            const std::string& aside) override;
    ClaimIoResult Remove(const std::string& hotFolder, const std::string& name) override;
    std::vector<std::string> List(const std::string& hotFolder) override;
};

// This service to the other hosts: gethostname, the job ledger's path,
// getpid and a random run id (16 hex digits, new at every call).
ClaimOwner ThisProcessOwner(const std::string& ledgerPath);

}  // namespace tallowin

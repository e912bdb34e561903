// HotFolderList: the one collection of all hot folders, keyed by folder id.
//
// Two threads use it, and the status socket's thread reads it (GetAll). The
// user interface thread calls Add, Remove, Get, Set,
// GetCount, GetNames, GetNamesAndPaths, Load and Save; the worker thread calls ResetAll,
// StartAll, GetTimeToNextScan, ScanDue and StopAll while it runs a schedule.
// Membership and settings change only while the worker is between runs (the
// main window disables its editing commands while started), so Set and the
// worker's passes take no lock; the others hold the re-entrant lock for their
// whole run, released on every way out. The analysis that
// util/thread_annotations.h enables checks the locked ones; the lock-free
// passes are marked as such and say why.
//
// Copies while a scan runs: a scan replaces its folder's file table without
// the lock, and must not hold the lock while it prints, or the window would
// freeze for a whole print job. The callers that copy folders while the worker
// runs (the table refresh twice a second, Save at exit) only need settings,
// state and error, so Get and Save copy folders without their file tables:
// no copy ever reads a table that a scan is replacing, and the refresh costs
// the same whatever the size of the folders. State, error and the last scan
// tick are atomic words inside the record, read whole; the last failure has
// its own small lock inside the record.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "engine/hot_folder.h"
#include "engine/ports/profile.h"
#include "scheduling/folder_claims.h"
#include "scheduling/folder_merge.h"
#include "util/thread_annotations.h"

namespace tallowin {

class HotFolderList {
  public:
    HotFolderList() = default;
    HotFolderList(const HotFolderList&) = delete;
    HotFolderList& operator=(const HotFolderList&) = delete;
    virtual ~HotFolderList() = default;

    // Stores a copy under the smallest id not in use and returns that id.
    int Add(const HotFolder& folder) EXCLUDES(lock_);
    // False when no folder has that id.
    bool Remove(int id) EXCLUDES(lock_);
    // Copies the folder, without its file table, into out; false (and out
    // untouched) when no folder has that id.
    bool Get(int id, HotFolder& out) const EXCLUDES(lock_);
    // Replaces (or makes) the folder under id. Only while the worker is
    // between runs. Always true.
    bool Set(int id, const HotFolder& folder) EXCLUDES(lock_);
    // Copies of every folder, without their file tables, in ascending id
    // order. Any thread (the status socket's too).
    std::vector<HotFolder> GetAll() const EXCLUDES(lock_);
    unsigned GetCount() const EXCLUDES(lock_);
    // Appends every folder's name, in ascending id order.
    void GetNames(std::vector<std::string>& out) const EXCLUDES(lock_);
    // Appends every folder's (name, folder path), in ascending id order.
    void GetNamesAndPaths(std::vector<std::pair<std::string, std::string>>& out) const
        EXCLUDES(lock_);

    // Why a folder's print settings cannot be used (ParsedJobSettings'
    // Reason, every wrong value named), for each folder that has such, in
    // ascending id order as (id, reason). What Start shows: such a folder
    // must print nothing until its settings are corrected. The settings stay
    // as written; nothing here changes them.
    std::vector<std::pair<int, std::string>> GetSettingsProblems() const EXCLUDES(lock_);

    // The worker's passes, in ascending id order.
    void ResetAll(Clock& clock) EXCLUDES(lock_);
    // Every folder to running, and no folder claimed yet (a new run). A
    // folder whose print settings are wrong (GetSettingsProblems) stays
    // waiting instead, with HF_ERR_SETTINGS and the reason as its last
    // failure: it prints nothing until they are corrected.
    void StartAll();
    void StopAll();
    // Milliseconds until some running folder (or one in error, which is
    // checked at its interval until its path is back) is due, by
    // TimeToNextScan (engine/scan_time.h): at most 20000, 0 when one is due.
    // Unsigned 32-bit tick arithmetic, wrap-around included.
    std::uint32_t GetTimeToNextScan(Clock& clock) const EXCLUDES(lock_);
    // Scans every running or erring folder that is due by the same rule
    // (its time since its last scan strictly greater than its scan time),
    // reading the tick once for the whole pass. Once stop is requested no
    // further folder is scanned; the folder being scanned stops between
    // files.
    //
    // One folder on disk is watched by one hot folder only. The run's first
    // pass resolves every scheduled folder's path (one stat each) and gives
    // each folder to the lowest id that leads to it; a folder found later (a
    // path back, or one that leads elsewhere now) goes to the lowest id among
    // those that hold none and lead to it. A hot folder whose folder another
    // one holds is in error (HF_ERR_DUPLICATE, naming that one) and checked
    // at its interval; the claims last until the run ends.
    void ScanDue(const EngineServices& services, const StopSignal& stop);

    // A section of the profile that names a hot folder but could not be
    // loaded as one.
    struct SkippedSection {
        std::string Section;  // e.g. "HotFolder1"
        std::string Reason;   // e.g. "it has no Name"
    };

    // Fills the (empty) list from the profile. False, loading nothing, when
    // the profile could not be read. A section that cannot be loaded is
    // skipped and the load goes on with the next; GetSkipped lists them.
    // Scan times below 1 second are read as 1 second.
    bool Load(const Profile& profile) EXCLUDES(lock_);
    // Whether a Load or TakeIn succeeded: only then may Save write.
    bool IsLoaded() const EXCLUDES(lock_);
    // The sections the last Load skipped, in the order of their numbers.
    std::vector<SkippedSection> GetSkipped() const EXCLUDES(lock_);

    // The profile file can be edited by hand while this list runs, so the
    // list remembers the hot folders (and skipped sections) the profile held
    // when it last loaded, took in or saved them: the baseline.
    //
    // Whether the profile's hot folders or skipped sections, as Load would
    // read them, differ from the baseline: an edit made since that this list
    // has not taken in. Other sections, comments and Init keys do not count;
    // Save keeps them as they are. False for an unreadable profile.
    bool ChangedOnDisk(const Profile& profile) const EXCLUDES(lock_);
    // Whether folders were added, removed or changed here since the baseline.
    bool HasOwnChanges() const EXCLUDES(lock_);

    struct TakeInResult {
        bool Ok = false;              // false: unreadable, the list is as it was
        bool KeptOwnChanges = false;  // this list's own changes were merged in
    };
    // Makes the profile's hot folders the list's, as Load does, but keeps this
    // list's own changes on top (MergeFolderEdits with the baseline as
    // ancestor); the profile becomes the baseline. Folders get new ids
    // 0 .. n-1, in order. Only while the worker is between runs.
    TakeInResult TakeIn(const Profile& profile) EXCLUDES(lock_);

    enum class SaveOutcome {
        Failed,    // not loaded, unreadable, or the commit failed
        Saved,     // the folders were written (or were there already)
        KeptEdit,  // the file was edited since the baseline and this list has
                   // no changes of its own: nothing was written over the edit
        Merged,    // the file was edited and so was this list: both are kept,
                   // merged as TakeIn does, and written
    };
    struct SaveResult {
        SaveOutcome Outcome = SaveOutcome::Failed;
        explicit operator bool() const { return Outcome != SaveOutcome::Failed; }
    };
    // Writes every folder's settings to the profile and commits it; the
    // profile is the file as it is now, read just before. Failed when the
    // commit failed, or when no Load succeeded in this process (a save would
    // otherwise replace the stored folders with none). An edit of the file
    // since the baseline is never written over: see SaveOutcome.
    //
    // The skipped sections are left in the profile as they are, under their
    // numbers: the folders take the lowest numbers that no skipped section
    // holds, and the count covers the highest number in use, so the next
    // Load finds the same folders and skips the same sections. Sections of
    // folders that are gone are removed.
    SaveResult Save(Profile& profile) EXCLUDES(lock_);

  private:
    using Guard = RecursiveLock;
    // Add's work, for Load, which holds the lock already: the analysis does
    // not follow a re-entrant lock taken twice, so no method takes it again.
    int AddLocked(const HotFolder& folder) REQUIRES(lock_);
    std::vector<FolderSettings> SettingsLocked() const REQUIRES(lock_);
    bool HasOwnChangesLocked() const REQUIRES(lock_);
    // TakeIn's work on what was read from the profile.
    TakeInResult TakeInLocked(std::vector<FolderSettings> folders,
                              std::map<int, SkippedSection> skipped) REQUIRES(lock_);

    // The name of the hot folder other than id that watches folder, taking
    // it for id when none does; nothing when id may watch it.
    std::optional<std::string> SameFolderAs(FolderLister& lister, const FolderKey& folder, int id);
    // The run's first claims, in ascending id order.
    void TakeClaims(FolderLister& lister);

    mutable RecursiveMutex lock_;
    // Set and the worker's passes read and write it without the lock; see
    // above.
    std::map<int, HotFolder> folders_ GUARDED_BY(lock_);
    bool loaded_ GUARDED_BY(lock_) = false;
    std::map<int, SkippedSection> skipped_ GUARDED_BY(lock_);  // by section number
    // What the profile held at the last Load, TakeIn or Save.
    std::vector<FolderSettings> baselineFolders_ GUARDED_BY(lock_);
    std::vector<std::string> baselineSkipped_ GUARDED_BY(lock_);  // their section names
    // The worker's alone: touched only by its passes.
    FolderClaims claims_;
};

}  // namespace tallowin

// The profile file as a running list follows it: a user may edit the file by
// hand while the hot folders run, and the window and the service take that
// edit in instead of losing it. The file itself is read in app/; the window
// and the service decide when the worker may be stopped for it.
#pragma once

namespace tallowin {

class ProfileSync {
  public:
    virtual ~ProfileSync() = default;
    // True when the profile's hot folders were changed on disk and are not
    // taken in yet. Cheap while nothing changed (one stat), so a timer may
    // call it often. Main thread only; the worker may run meanwhile.
    virtual bool Changed() = 0;
    // Reads the profile again and takes its hot folders into the list
    // (HotFolderList::TakeIn: the list's own changes are kept on top). Only
    // while the worker is between runs. False when the file cannot be read:
    // the list stays as it is, and the log says why.
    virtual bool TakeIn() = 0;
};

}  // namespace tallowin

// What the tray icon says: its look and tooltip from the hot folders as the
// window's table shows them, and the desktop notifications that are news
// since the last look. Plain logic: the tray itself is ui/tray_icon.h.
#pragma once

#include <QString>
#include <cstdint>
#include <map>
#include <set>
#include <vector>

namespace tallowin {

// One hot folder as the window's row shows it.
struct TrayFolder {
    QString Name;
    QString Printer;
    std::int32_t State = 0;  // HotFolderState
    std::int32_t Error = 0;  // HotFolderError
    QString ErrorText;       // as the row's error cell says it
    QString PrinterTrouble;  // HF_ERR_PRINTER_ATTENTION: the printer's own words
    // The last file that was not printed (FailureNote): a new one is news.
    QString FailureFile;
    std::int64_t FailureTimeMs = 0;  // since 1970; 0 when none
    std::int32_t FailureCode = 0;
    QString FailureText;  // the failure's words, as the row's tooltip says them
};

enum class TrayLook {
    Stopped,    // the hot folders are not watched
    Running,    // watched, no folder shows an error
    Attention,  // watched, and some folder shows an error
};

struct TrayMessage {
    QString Title;
    QString Text;
    bool operator==(const TrayMessage&) const = default;
};

struct TrayUpdate {
    TrayLook Look = TrayLook::Stopped;
    QString ToolTip;
    std::vector<TrayMessage> Messages;  // to show now, in order
};

// Remembers what it has told, so that each event is told once: a file kept
// (a new last failure of a folder; failures there before the first look are
// not news), and a printer that needs attention (once each time it begins,
// for each printer, however many folders use it). Not thread-safe; the
// window's thread calls it with each refresh.
class TrayPresenter {
  public:
    TrayUpdate Update(bool started, const std::vector<TrayFolder>& folders);

  private:
    struct Seen {
        QString File;
        std::int64_t TimeMs = 0;
    };
    bool first_ = true;
    std::map<QString, Seen> failures_;  // by folder name
    std::set<QString> attention_;       // printers told to need attention
};

}  // namespace tallowin

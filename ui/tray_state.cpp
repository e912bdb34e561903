#include "ui/tray_state.h"

#include "engine/hot_folder_types.h"

namespace tallowin {

namespace {

QString FileName(const QString& path) {
    const qsizetype slash = path.lastIndexOf('/');
    return slash < 0 ? path : path.mid(slash + 1);
}

bool AboutTheFolder(std::int32_t code) {
    return code == HF_ERR_PATH || code == HF_ERR_DUPLICATE;
}

QString ToolTipFor(TrayLook look, const std::vector<TrayFolder>& folders) {
    switch (look) {
        case TrayLook::Stopped:
            return QStringLiteral("Tallowin: stopped");
        case TrayLook::Running:
            return folders.size() == 1
                       ? QStringLiteral("Tallowin: running, 1 hot folder")
                       : QStringLiteral("Tallowin: running, %1 hot folders").arg(folders.size());
        case TrayLook::Attention:
            break;
    }
    QString tip = QStringLiteral("Tallowin: needs attention");
    for (const TrayFolder& folder : folders) {
        if (folder.Error != HF_ERR_NONE) tip += "\n" + folder.Name + ": " + folder.ErrorText;
    }
    return tip;
}

}  // namespace

TrayUpdate TrayPresenter::Update(bool started, const std::vector<TrayFolder>& folders) {
    TrayUpdate update;
    bool anyError = false;
    std::set<QString> needAttention;
    for (const TrayFolder& folder : folders) {
        anyError = anyError || folder.Error != HF_ERR_NONE;
        if (folder.Error == HF_ERR_PRINTER_ATTENTION) {
            needAttention.insert(folder.Printer);
            if (!attention_.contains(folder.Printer)) {
                attention_.insert(folder.Printer);
                const QString words = folder.PrinterTrouble.isEmpty()
                                          ? folder.Printer
                                          : folder.Printer + ": " + folder.PrinterTrouble;
                update.Messages.push_back({QStringLiteral("Printer needs attention"), words});
            }
        }
        Seen& seen = failures_[folder.Name];
        const bool news = folder.FailureTimeMs != 0 &&
                          (folder.FailureTimeMs != seen.TimeMs || folder.FailureFile != seen.File);
        if (news && !first_) {
            const QString title = AboutTheFolder(folder.FailureCode)
                                      ? QStringLiteral("Hot folder %1 not watched").arg(folder.Name)
                                      : QStringLiteral("%1 kept").arg(FileName(folder.FailureFile));
            update.Messages.push_back({title, folder.Name + ": " + folder.FailureText});
        }
        seen = {folder.FailureFile, folder.FailureTimeMs};
    }
    // A printer that prints again may be told again the next time it stops.
    std::erase_if(attention_, [&](const QString& p) { return !needAttention.contains(p); });
    first_ = false;
    update.Look = !started ? TrayLook::Stopped : anyError ? TrayLook::Attention : TrayLook::Running;
    update.ToolTip = ToolTipFor(update.Look, folders);
    return update;
}

}  // namespace tallowin

#include "ui/hot_folder_texts.h"

#include "engine/hot_folder_types.h"
#include "res/string_table.h"

namespace tallowin {

namespace {

constexpr int kFirstStateString = 109;
constexpr int kFirstErrorString = 119;
constexpr int kTextsEach = 10;

QString TextFrom(int first, int value) {
    if (value < 0 || value >= kTextsEach) return {};
    return LoadString(first + value);
}

}  // namespace

QString StateText(int state) {
    return TextFrom(kFirstStateString, state);
}
QString ErrorText(int error) {
    // The string table's ten error texts end where its next text begins, so
    // the codes past them have their texts here.
    if (error == HF_ERR_STATE) return QStringLiteral("Job records or print log cannot be stored");
    if (error == HF_ERR_DUPLICATE) return QStringLiteral("Same folder as another hot folder");
    if (error == HF_ERR_CHANGED) return QStringLiteral("The file changed while it was read");
    if (error == HF_ERR_PROTECTED) {
        return QStringLiteral("Document needs a password or does not allow printing");
    }
    if (error == HF_ERR_NO_PAGES) return QStringLiteral("Document has no pages");
    if (error == HF_ERR_OTHER_HOST)
        return QStringLiteral("Waits for another computer to come back");
    if (error == HF_ERR_SETTINGS) return QStringLiteral("Print settings need correcting");
    if (error == HF_ERR_PRINTER_ATTENTION) return QStringLiteral("Printer needs attention");
    return TextFrom(kFirstErrorString, error);
}

QString ErrorText(int error, const QString& printerTrouble) {
    if (error != HF_ERR_PRINTER_ATTENTION || printerTrouble.isEmpty()) return ErrorText(error);
    // The printer's words as they are: a "%" in them is no pattern.
    return QStringLiteral("Printer needs attention: ") + printerTrouble;
}

}  // namespace tallowin

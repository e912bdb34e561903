#include "app/row_texts.h"

#include "ui/bytes_text.h"
#include "ui/hot_folder_texts.h"

namespace tallowin {

FolderTexts RowTexts() {
    return {[](std::int32_t state) { return StateText(state).toStdString(); },
            [](std::int32_t error, const std::string& trouble) {
                return ErrorText(error, FromBytes(trouble)).toStdString();
            }};
}

}  // namespace tallowin

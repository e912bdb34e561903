#include "ui/hot_folder_texts.h"

#include "res/string_table.h"

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
    return TextFrom(kFirstErrorString, error);
}

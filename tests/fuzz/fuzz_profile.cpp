// The profile's reader on any bytes, from the file's encoding through the
// INI text to the hot folders loaded from it:
//  - text that decodes encodes back to the very same bytes, and the INI
//    document gives back the very text it was made of;
//  - a value set is read back, a section removed is gone, and the
//    document's text reads back as the document it came from;
//  - the hot folders loaded from the file, saved to it and loaded again
//    are the same folders, print settings included (as written, wrong
//    ones too), with the same sections skipped and the same wrong values
//    named.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "scheduling/hot_folder_list.h"
#include "store/ini_document.h"
#include "store/ini_profile.h"
#include "store/profile_text.h"
#include "tests/fuzz/fuzz_support.h"

using namespace tallowin;

namespace {

// How many of the sections the document checks are tried: enough to meet
// duplicates and odd names, few enough to keep each run quick.
constexpr std::size_t kSectionsTried = 4;
constexpr const char* kKeysTried[] = {"Name", "FolderPath", "ScanTime", "FHNumber"};

void CheckEncoding(const std::string& bytes, const DecodedText& decoded) {
    const EncodedText encoded = EncodeProfileText(decoded.Text, decoded.Encoding);
    fuzz::Check(encoded.Ok, "decoded text encodes again", encoded.Error);
    fuzz::Check(encoded.Bytes == bytes, "decoded text encodes to the bytes it came from");
}

// Every Get of the document and of a document made of its text agree.
void CheckReadsBack(const IniDocument& doc, const std::vector<std::string>& sections,
                    const char* property) {
    const IniDocument again(doc.Text());
    fuzz::Check(again.SectionNames() == doc.SectionNames(), property, "section names differ");
    for (const std::string& section : sections) {
        for (const char* key : kKeysTried) {
            fuzz::Check(again.Get(section, key) == doc.Get(section, key), property,
                        "[" + section + "] " + key);
        }
    }
}

void CheckDocument(const std::string& text) {
    IniDocument doc(text);
    fuzz::Check(doc.Text() == text, "the document keeps its text byte for byte");
    std::vector<std::string> sections = doc.SectionNames();
    if (sections.size() > kSectionsTried) sections.resize(kSectionsTried);
    sections.push_back("");            // the lines above the first section
    sections.push_back("HotFolder0");  // likely new
    CheckReadsBack(doc, sections, "the document's text reads back the same");

    for (const std::string& section : sections) {
        doc.Set(section, "Name", "set by the fuzzer");
        fuzz::Check(doc.Get(section, "Name") == "set by the fuzzer", "a value set is read back",
                    "[" + section + "]");
    }
    CheckReadsBack(doc, sections, "the text after Set reads back the same");

    const std::string& removed = sections.front();
    doc.RemoveSection(removed);
    if (!removed.empty()) {
        fuzz::Check(!doc.Get(removed, "Name").has_value(), "a removed section has no values",
                    "[" + removed + "]");
    }
    CheckReadsBack(doc, sections, "the text after RemoveSection reads back the same");
}

struct Loaded {
    std::vector<std::string> Folders;  // name, path, printer, scan time, settings of each
    std::vector<std::string> Skipped;  // section and reason of each
    std::vector<std::pair<int, std::string>> Problems;  // wrong print settings
};

Loaded LoadFolders(const Profile& profile) {
    HotFolderList list;
    fuzz::Check(list.Load(profile), "a readable profile loads");
    Loaded out;
    for (unsigned id = 0; id < list.GetCount(); ++id) {
        HotFolder folder;
        fuzz::Check(list.Get(static_cast<int>(id), folder), "loaded folders have ids 0..n-1");
        std::string settings;
        for (const JobSettingsKey& key : kJobSettingsKeys) {
            settings += '|' + folder.PrintSettings.*key.Field;
        }
        out.Folders.push_back(folder.GetName() + '|' + folder.GetFolderPath() + '|' +
                              folder.GetPrinterName() + '|' + std::to_string(folder.GetScanTime()) +
                              settings);
    }
    out.Problems = list.GetSettingsProblems();
    for (const auto& skipped : list.GetSkipped()) {
        out.Skipped.push_back(skipped.Section + '|' + skipped.Reason);
    }
    return out;
}

void CheckFolders(const fuzz::ScratchFolder& scratch, const std::uint8_t* data, std::size_t size) {
    scratch.Write(data, size);
    IniProfile profile(scratch.File());
    if (!profile.IsReadable()) return;
    const Loaded first = LoadFolders(profile);

    HotFolderList list;
    list.Load(profile);
    fuzz::Check(static_cast<bool>(list.Save(profile)), "the folders loaded are saved",
                profile.GetError());

    const IniProfile saved(scratch.File());
    fuzz::Check(saved.IsReadable(), "a saved profile is readable", saved.GetError());
    const Loaded second = LoadFolders(saved);
    fuzz::Check(second.Folders == first.Folders, "a saved profile loads the same folders");
    fuzz::Check(second.Skipped == first.Skipped, "a saved profile skips the same sections");
    fuzz::Check(second.Problems == first.Problems,
                "a saved profile names the same wrong print settings");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const fuzz::ScratchFolder scratch("tallowin.ini");
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const DecodedText decoded = DecodeProfileText(bytes);
    if (!decoded.Ok) {
        fuzz::Check(!decoded.Error.empty(), "a text that is refused says why");
        return 0;
    }
    CheckEncoding(bytes, decoded);
    CheckDocument(decoded.Text);
    CheckFolders(scratch, data, size);
    return 0;
}

#include "cups/internal/destination.h"

#include <cups/ppd.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <iterator>
#include <memory>
#include <string_view>
#include <utility>

#include "util/units.h"

namespace tallowin {

namespace cupsutil {

namespace {

int DotsPerCmToInch(int dpcm) {
    return static_cast<int>(std::lround(dpcm * 2.54));
}

// r in dots per inch.
Resolution PerInch(const Resolution& r) {
    if (r.PerCm) return Resolution{DotsPerCmToInch(r.X), DotsPerCmToInch(r.Y)};
    return r;
}

std::optional<Resolution> FromIpp(ipp_attribute_t* attr) {
    if (attr == nullptr || ippGetValueTag(attr) != IPP_TAG_RESOLUTION || ippGetCount(attr) < 1) {
        return std::nullopt;
    }
    const std::optional<Resolution> r = ResolutionAt(attr, 0);
    if (!r) return std::nullopt;
    return PerInch(*r);
}

// Removes a file when it goes.
class TempFile {
  public:
    TempFile() {
        char name[1024];
        fd_ = cupsTempFd(name, sizeof name);
        if (fd_ >= 0) path_ = name;
    }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;
    ~TempFile() {
        Close();
        if (!path_.empty()) unlink(path_.c_str());
    }
    int Fd() const { return fd_; }
    const std::string& Path() const { return path_; }
    void Close() {
        if (fd_ >= 0) close(fd_);
        fd_ = -1;
    }

  private:
    int fd_ = -1;
    std::string path_;
};

// The size of a page size that only the queue's PPD knows (a name of the
// printer's own, such as a vendor's custom size), read from the PPD that the
// scheduler serves for the queue. libcups offers no other way from a PPD
// name to a size; its PPD reader is deprecated but is the one CUPS 2.4 uses.
std::optional<Size> FromQueuePpd(const DestContext& c, const char* name) {
    const char* uri = UserOption(c, "printer-uri-supported");
    if (uri == nullptr) return std::nullopt;
    char scheme[32], user[256], host[256], resource[1024];
    int port = 0;
    if (httpSeparateURI(HTTP_URI_CODING_ALL, uri, scheme, sizeof scheme, user, sizeof user, host,
                        sizeof host, &port, resource, sizeof resource) < HTTP_URI_STATUS_OK) {
        return std::nullopt;
    }
    TempFile ppdFile;
    if (ppdFile.Fd() < 0) return std::nullopt;
    const std::string ppdResource = std::string(resource) + ".ppd";
    if (cupsGetFd(c.Http, ppdResource.c_str(), ppdFile.Fd()) != HTTP_STATUS_OK) return std::nullopt;
    ppdFile.Close();

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    ppd_file_t* ppd = ppdOpenFile(ppdFile.Path().c_str());
    if (ppd == nullptr) return std::nullopt;
    std::optional<Size> size;
    if (const ppd_size_t* page = ppdPageSize(ppd, name);
        page != nullptr && page->width > 0 && page->length > 0) {
        size = Size{static_cast<int>(std::lround(PointsToHundredthsMm(page->width))),
                    static_cast<int>(std::lround(PointsToHundredthsMm(page->length)))};
    }
    ppdClose(ppd);
#pragma GCC diagnostic pop
    return size;
}

}  // namespace

Result<FoundDest> ConnectAndFind(const std::string& printerName, const StopSignal& stop) {
    const std::optional<DestName> name = SplitName(printerName);
    if (!name) {
        return {{},
                Status::Failure(HF_ERR_PRINTER, "'" + printerName + "' is not a printer's name")};
    }
    Result<BoundedHttp> http = ConnectBounded(stop);
    if (!http.Ok()) return {{}, http.Error};
    const RequestGuard& guard = *http.Value.Guard;
    Dest dest = FindDest(http.Value.get(), *name);
    if (!dest) {
        // The lookup's last request asks for the default printer, whose
        // not-found says nothing of this one: only a scheduler that could
        // not be heard is more than a missing printer.
        const Status failure = RequestFailure(guard, HF_ERR_PRINTER);
        if (failure.Code == HF_ERR_UNREACHABLE) return {{}, failure};
        return {{},
                Status::Failure(HF_ERR_PRINTER,
                                "the scheduler knows no printer or class '" + printerName + "'")};
    }
    DestInfo info(cupsCopyDestInfo(http.Value.get(), dest.get()));
    if (!info) return {{}, RequestFailure(guard, HF_ERR_PRINTER)};
    return {FoundDest{std::move(http.Value), std::move(dest), std::move(info)}, {}};
}

void LayerOptions(cups_dest_t* dest, const std::vector<NamedValue>& options) {
    struct Alias {
        const char* Name;
        std::vector<const char*> Older;
    };
    static const Alias kAliases[] = {
        {"media", {"PageSize", "PageRegion", "media-col"}},
        {"sides", {"Duplex"}},
        {"print-color-mode", {"ColorModel", "output-mode"}},
        {"media-source", {"InputSlot"}},
    };
    for (const NamedValue& option : options) {
        for (const Alias& alias : kAliases) {
            if (!SameOptionName(option.Name, alias.Name)) continue;
            for (const char* older : alias.Older) {
                dest->num_options = cupsRemoveOption(older, dest->num_options, &dest->options);
            }
        }
        dest->num_options = cupsAddOption(option.Name.c_str(), option.Value.c_str(),
                                          dest->num_options, &dest->options);
    }
}

Status CheckOffered(const DestContext& c, const std::vector<NamedValue>& asked,
                    const std::string& printerName) {
    if (const char* media = UserOption(c, "media"); media != nullptr && *media != '\0') {
        const UserSheet sheet = ReadUserSheet(c);
        const std::string name = sheet.Entry.empty() ? std::string(media) : sheet.Entry;
        cups_size_t size{};
        const bool offered = cupsGetDestMediaByName(c.Http, c.Dest, c.Info, name.c_str(),
                                                    CUPS_MEDIA_FLAGS_DEFAULT, &size) != 0 ||
                             (sheet.Sized && FromDatabase(c, *sheet.Sized));
        if (!offered) {
            return Status::Failure(HF_ERR_SETTINGS,
                                   "media " + name + ": '" + printerName + "' does not offer it");
        }
    }
    // A tray must be one the printer names. Sides and colour modes are
    // checked when the job's own options ask for them and the printer lists
    // its values: a queue without a driver lists none, and what it passes
    // on is the printer's business.
    const auto asks = [&](const char* option) {
        return std::any_of(asked.begin(), asked.end(),
                           [&](const NamedValue& o) { return SameOptionName(o.Name, option); });
    };
    for (const char* option : {"media-source", "sides", "print-color-mode"}) {
        const char* value = UserOption(c, option);
        if (value == nullptr) continue;
        const bool tray = std::string_view(option) == "media-source";
        if (!tray &&
            (!asks(option) || cupsFindDestSupported(c.Http, c.Dest, c.Info, option) == nullptr)) {
            continue;
        }
        if (cupsCheckDestSupported(c.Http, c.Dest, c.Info, option, value) == 0) {
            return Status::Failure(HF_ERR_SETTINGS, std::string(option) + " " + value + ": '" +
                                                        printerName + "' does not offer it");
        }
    }
    return {};
}

Result<PrinterCondition> ReadCondition(http_t* http, const RequestGuard& guard, cups_dest_t* dest) {
    const char* uri = cupsGetOption("printer-uri-supported", dest->num_options, dest->options);
    if (uri == nullptr) {
        return {{}, Status::Failure(HF_ERR_PRINTER, "the scheduler gives no address for it")};
    }
    static const char* const kAsked[] = {"printer-state", "printer-state-reasons",
                                         "printer-state-message", "printer-is-accepting-jobs"};
    ipp_t* request = ippNewRequest(IPP_OP_GET_PRINTER_ATTRIBUTES);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, uri);
    ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes",
                  static_cast<int>(std::size(kAsked)), nullptr, kAsked);
    const std::unique_ptr<ipp_t, decltype(&ippDelete)> response(cupsDoRequest(http, request, "/"),
                                                                &ippDelete);  // frees the request
    if (!response || ippGetStatusCode(response.get()) > IPP_STATUS_OK_CONFLICTING) {
        return {{}, RequestFailure(guard, HF_ERR_PRINTER)};
    }
    Result<PrinterCondition> result;
    PrinterCondition& c = result.Value;
    if (ipp_attribute_t* state = ippFindAttribute(response.get(), "printer-state", IPP_TAG_ENUM)) {
        switch (ippGetInteger(state, 0)) {
            case IPP_PSTATE_PROCESSING:
                c.Now = PrinterCondition::State::Processing;
                break;
            case IPP_PSTATE_STOPPED:
                c.Now = PrinterCondition::State::Stopped;
                break;
            default:
                c.Now = PrinterCondition::State::Idle;
                break;
        }
    }
    if (ipp_attribute_t* reasons =
            ippFindAttribute(response.get(), "printer-state-reasons", IPP_TAG_KEYWORD)) {
        for (int i = 0; i < ippGetCount(reasons); ++i) {
            if (const char* r = ippGetString(reasons, i, nullptr); r != nullptr && *r != '\0') {
                c.Reasons.emplace_back(r);
            }
        }
    }
    if (ipp_attribute_t* message =
            ippFindAttribute(response.get(), "printer-state-message", IPP_TAG_TEXT)) {
        if (const char* m = ippGetString(message, 0, nullptr)) c.Message = m;
    }
    if (ipp_attribute_t* accepting =
            ippFindAttribute(response.get(), "printer-is-accepting-jobs", IPP_TAG_BOOLEAN)) {
        c.Accepting = ippGetBoolean(accepting, 0) != 0;
    }
    return result;
}

std::optional<Media> FromDatabase(const DestContext& c, Size s) {
    std::optional<Media> best;
    int bestDistance = 0;
    for (const cups_size_t& entry : MediaDatabase(c)) {
        if (!SameSize(Size{entry.width, entry.length}, s)) continue;
        const Media m{entry.width, entry.length, entry.left, entry.right, entry.top, entry.bottom};
        const int distance = std::abs(m.Width - s.Width) + std::abs(m.Length - s.Length);
        const bool better = !best || (best->Borderless() && !m.Borderless()) ||
                            (best->Borderless() == m.Borderless() && distance < bestDistance);
        if (better) {
            best = m;
            bestDistance = distance;
        }
    }
    return best;
}

UserSheet ReadUserSheet(const DestContext& c) {
    UserSheet sheet;
    for (const char* option : {"media", "PageSize"}) {
        const char* value = UserOption(c, option);
        if (value == nullptr || *value == '\0') continue;
        if (sheet.Text.empty()) sheet.Text = value;
        for (const std::string& entry : ListEntries(value)) {
            std::optional<Size> size = SizeForMediaName(entry);
            const bool onlyPpd = !size;
            if (!size) size = FromQueuePpd(c, entry.c_str());
            if (size) return {value, entry, size, onlyPpd};
        }
    }
    return sheet;
}

DefaultSheet ReadDefaultSheet(const DestContext& c) {
    DefaultSheet sheet;
    if (ipp_t* media = DefaultMediaCol(c)) {
        const Size size = MediaColSize(media).value_or(Size{});
        if (size.Width > 0 && size.Length > 0) {
            sheet.Col = Media{size.Width,
                              size.Length,
                              IntegerMember(media, "media-left-margin", -1),
                              IntegerMember(media, "media-right-margin", -1),
                              IntegerMember(media, "media-top-margin", -1),
                              IntegerMember(media, "media-bottom-margin", -1)};
        }
    }
    ipp_attribute_t* name = cupsFindDestDefault(c.Http, c.Dest, c.Info, "media");
    if (name != nullptr &&
        (ippGetValueTag(name) == IPP_TAG_KEYWORD || ippGetValueTag(name) == IPP_TAG_NAME)) {
        if (const char* keyword = ippGetString(name, 0, nullptr); keyword != nullptr) {
            sheet.Name = keyword;
            sheet.NameSize = SizeForMediaName(sheet.Name);
            if (!sheet.NameSize) sheet.NameSize = FromQueuePpd(c, keyword);
        }
    }
    return sheet;
}

std::optional<Media> PrintedSheet(const DestContext& c) {
    if (const UserSheet user = ReadUserSheet(c); user.Sized) {
        return FromDatabase(c, *user.Sized);  // a size the printer does not offer: none
    }
    const DefaultSheet byDefault = ReadDefaultSheet(c);
    if (byDefault.Col) {
        Media m = *byDefault.Col;
        if (m.Left >= 0 && m.Right >= 0 && m.Top >= 0 && m.Bottom >= 0) return m;
        // Margins left out: the printer's entry for the size has them.
        if (auto listed = FromDatabase(c, {m.Width, m.Length})) return listed;
        m.Left = std::max(m.Left, 0);
        m.Right = std::max(m.Right, 0);
        m.Top = std::max(m.Top, 0);
        m.Bottom = std::max(m.Bottom, 0);
        return m;
    }
    if (byDefault.NameSize) return FromDatabase(c, *byDefault.NameSize);
    return std::nullopt;
}

UserResolution ReadUserResolution(const DestContext& c) {
    UserResolution user;
    for (const char* option : {"printer-resolution", "Resolution"}) {
        const char* value = UserOption(c, option);
        if (value == nullptr || *value == '\0') continue;
        if (user.Text.empty()) user.Text = value;
        if (auto r = ParseResolution(value)) return {value, r};
    }
    return user;
}

std::optional<Resolution> PrintedResolution(const DestContext& c) {
    if (const UserResolution user = ReadUserResolution(c); user.Value) return PerInch(*user.Value);
    if (auto r = FromIpp(cupsFindDestDefault(c.Http, c.Dest, c.Info, "printer-resolution"))) {
        return r;
    }
    return FromIpp(cupsFindDestSupported(c.Http, c.Dest, c.Info, "printer-resolution"));
}

UserOrientation ReadUserOrientation(const DestContext& c) {
    UserOrientation user;
    if (const char* value = UserOption(c, "orientation-requested");
        value != nullptr && *value != '\0') {
        user.Text = value;
        // A number, or a keyword ("landscape") as cupsEncodeOptions also
        // accepts.
        if (const auto o = ParsePositive(value)) {
            user.Value = *o;
        } else if (const int o = ippEnumValue("orientation-requested", value); o > 0) {
            user.Value = o;
        }
    }
    if (!user.Value && UserLandscape(c)) user.Value = IPP_ORIENT_LANDSCAPE;
    return user;
}

int PrintedOrientation(const DestContext& c) {
    if (const UserOrientation user = ReadUserOrientation(c); user.Value) return *user.Value;
    ipp_attribute_t* attr = cupsFindDestDefault(c.Http, c.Dest, c.Info, "orientation-requested");
    if (attr != nullptr &&
        (ippGetValueTag(attr) == IPP_TAG_ENUM || ippGetValueTag(attr) == IPP_TAG_INTEGER)) {
        return ippGetInteger(attr, 0);
    }
    return IPP_ORIENT_PORTRAIT;
}

}  // namespace cupsutil

}  // namespace tallowin

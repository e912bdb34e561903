#include "page/pdf/pdf_document.h"

#include <fcntl.h>
#include <unistd.h>

#include <qpdf/Constants.h>
#include <qpdf/Pipeline.hh>
#include <qpdf/Pl_Discard.hh>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFAcroFormDocumentHelper.hh>
#include <qpdf/QPDFExc.hh>
#include <qpdf/QPDFObjGen.hh>
#include <qpdf/QPDFObjectHandle.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFPageObjectHelper.hh>
#include <qpdf/QPDFWriter.hh>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <exception>
#include <optional>
#include <set>
#include <string_view>
#include <utility>
#include <vector>

#include "os/file_identity.h"

namespace tallowin {

namespace {

constexpr std::size_t kHeaderWindow = 1024;
constexpr std::size_t kSinkChunk = std::size_t{64} << 10;
// A page without a usable media box is shown as US Letter by viewers.
constexpr PdfBox kLetter{0, 0, 612, 792};

// Thrown through qpdf from our own pipelines, caught in Write.
struct StopRequested {};
struct SinkRefused {};
struct JoinedContentTooLarge {};

Status Damaged(std::string reason) {
    return Status::Failure(HF_ERR_DAMAGED, std::move(reason));
}
Status TooLarge(std::string reason) {
    return Status::Failure(HF_ERR_TOO_LARGE, std::move(reason));
}

std::string PageName(std::size_t index) {
    return "page " + std::to_string(index + 1);
}

// Takes the warnings qpdf collected since the last call; the first one's
// words, or empty when there were none.
std::string TakeWarnings(QPDF& pdf) {
    const std::vector<QPDFExc> warnings = pdf.getWarnings();
    if (warnings.empty()) return {};
    std::string first = warnings.front().what();
    if (warnings.size() > 1) first += " (and " + std::to_string(warnings.size() - 1) + " more)";
    return first;
}

std::optional<PdfBox> BoxOf(QPDFObjectHandle box) {
    if (!box.isRectangle()) return std::nullopt;
    const QPDFObjectHandle::Rectangle r = box.getArrayAsRectangle();
    const PdfBox b = Normalized({r.llx, r.lly, r.urx, r.ury});
    if (!std::isfinite(b.X0) || !std::isfinite(b.Y0) || !std::isfinite(b.X1) ||
        !std::isfinite(b.Y1)) {
        return std::nullopt;
    }
    return b;
}

// The page as a viewer shows it: the crop box within the media box (the
// media box alone when there is no crop box, or it lies outside), /Rotate
// and /UserUnit applied. Inherited attributes count.
std::optional<PdfPageView> ViewOf(QPDFObjectHandle page) {
    QPDFPageObjectHelper helper(page);
    PdfPageView view;
    const PdfBox media = BoxOf(helper.getAttribute("/MediaBox", false)).value_or(kLetter);
    view.Box = media;
    if (const std::optional<PdfBox> crop = BoxOf(helper.getAttribute("/CropBox", false))) {
        const PdfBox shown = Intersection(*crop, media);
        if (shown.Width() > 0 && shown.Height() > 0) view.Box = shown;
    }
    if (!(view.Box.Width() > 0 && view.Box.Height() > 0)) return std::nullopt;
    QPDFObjectHandle rotate = helper.getAttribute("/Rotate", false);
    if (rotate.isInteger()) view.Rotate = ViewerRotation(rotate.getIntValue());
    QPDFObjectHandle unit = page.getKey("/UserUnit");
    if (unit.isNumber()) {
        const double u = unit.getNumericValue();
        if (std::isfinite(u) && u > 0) view.UserUnit = u;
    }
    return view;
}

// The page's content streams in order; a piece that is no stream is left
// out, as viewers leave it out.
std::vector<QPDFObjectHandle> ContentStreams(QPDFObjectHandle page) {
    std::vector<QPDFObjectHandle> streams;
    QPDFObjectHandle contents = page.getKey("/Contents");
    if (contents.isStream()) {
        streams.push_back(contents);
    } else if (contents.isArray()) {
        for (QPDFObjectHandle piece : contents.aitems()) {
            if (piece.isStream()) streams.push_back(piece);
        }
    }
    return streams;
}

// What reading every object a page uses found.
struct UsedObjects {
    std::vector<QPDFObjectHandle> Streams;
    std::uint64_t Values = 0;  // every value walked, direct ones included
    std::string Missing;       // the first reference to an object the file lacks
    std::string TooLarge;      // the first limit passed
};

// Walks everything reachable from the page's resources, contents and group
// (each indirect object once, however often or circularly referred to),
// without recursion. The page tree itself (/Parent) is not followed.
void CollectUsed(QPDFObjectHandle page, std::size_t index, const PdfLimits& limits,
                 std::set<QPDFObjGen>& seen, UsedObjects& used) {
    QPDFPageObjectHelper helper(page);
    std::vector<QPDFObjectHandle> todo{helper.getAttribute("/Resources", false),
                                       page.getKey("/Contents"), page.getKey("/Group")};
    while (!todo.empty() && used.TooLarge.empty()) {
        QPDFObjectHandle oh = todo.back();
        todo.pop_back();
        if (++used.Values > limits.MaxUsedValues) {
            used.TooLarge =
                "its pages use more than " + std::to_string(limits.MaxUsedValues) + " values";
            break;
        }
        if (oh.isIndirect()) {
            if (!seen.insert(oh.getObjGen()).second) continue;
            if (seen.size() > limits.MaxUsedObjects) {
                used.TooLarge =
                    "its pages use more than " + std::to_string(limits.MaxUsedObjects) + " objects";
                break;
            }
            if (oh.isNull()) {
                if (used.Missing.empty()) {
                    used.Missing = "object " + std::to_string(oh.getObjectID()) + ", which " +
                                   PageName(index) + " uses, is not in the file";
                }
                continue;
            }
        }
        if (oh.isStream()) {
            QPDFObjectHandle dict = oh.getDict();
            QPDFObjectHandle length = dict.getKey("/Length");
            if (length.isInteger() && length.getIntValue() > 0 &&
                static_cast<std::uint64_t>(length.getIntValue()) > limits.MaxStreamBytes &&
                used.TooLarge.empty()) {
                used.TooLarge = "a stream of " + std::to_string(length.getIntValue()) +
                                " bytes, more than the " + std::to_string(limits.MaxStreamBytes) +
                                " a document's stream may hold";
            }
            used.Streams.push_back(oh);
            oh = dict;
        }
        if (oh.isArray()) {
            for (QPDFObjectHandle item : oh.aitems()) todo.push_back(item);
        } else if (oh.isDictionary()) {
            for (auto& [key, value] : oh.ditems()) {
                if (key != "/Parent") todo.push_back(value);
            }
        }
    }
}

// Counts a subtree's pages as the page tree lays them out, without reading
// past the limit or going round a loop. Damage and size are told apart.
struct PageTreeCount {
    std::uint64_t Leaves = 0;
    std::string Damage;
    bool OverLimit = false;
};

PageTreeCount CountPages(QPDFObjectHandle root, int maxPages) {
    PageTreeCount count;
    std::set<QPDFObjGen> inner;  // the /Pages nodes seen
    std::vector<QPDFObjectHandle> todo{root};
    while (!todo.empty()) {
        QPDFObjectHandle node = todo.back();
        todo.pop_back();
        if (!node.isDictionary()) {
            count.Damage = "the page tree lists a page that is not in the file";
            return count;
        }
        QPDFObjectHandle kids = node.getKey("/Kids");
        if (!kids.isArray()) {
            if (++count.Leaves > static_cast<std::uint64_t>(maxPages)) {
                count.OverLimit = true;
                return count;
            }
            continue;
        }
        if (node.isIndirect() && !inner.insert(node.getObjGen()).second) {
            count.Damage = "the page tree refers back to itself";
            return count;
        }
        // Reversed, so that the stack gives them back in order (order does
        // not matter for a count, but keeps the walk the reader's).
        const int n = kids.getArrayNItems();
        for (int i = n - 1; i >= 0; --i) todo.push_back(kids.getArrayItem(i));
    }
    return count;
}

// The document's bytes on their way to the sink, in pieces of kSinkChunk.
// The last piece (which holds the document's end) is passed on only by
// Release, once the document is known good.
class SinkPipeline final : public Pipeline {
  public:
    SinkPipeline(const ByteSink& sink, const StopSignal& stop)
        : Pipeline("job", nullptr), sink_(sink), stop_(stop) {
        held_.reserve(kSinkChunk);
    }

    void write(unsigned char const* data, size_t len) override {
        while (len > 0) {
            if (held_.size() == kSinkChunk) Pass();
            const std::size_t n = std::min(len, kSinkChunk - held_.size());
            held_.insert(held_.end(), data, data + n);
            data += n;
            len -= n;
        }
    }
    void finish() override {}

    // False when the sink refuses the last piece.
    bool Release() {
        const bool ok = held_.empty() || sink_(held_.data(), held_.size());
        held_.clear();
        return ok;
    }

  private:
    void Pass() {
        if (stop_.Requested()) throw StopRequested{};
        if (!sink_(held_.data(), held_.size())) throw SinkRefused{};
        held_.clear();
    }

    const ByteSink& sink_;
    const StopSignal& stop_;
    std::vector<unsigned char> held_;
};

// Counts what passes and refuses more than the limit.
class LimitPipeline final : public Pipeline {
  public:
    LimitPipeline(Pipeline* next, std::uint64_t limit)
        : Pipeline("joined contents", next), limit_(limit) {}
    void write(unsigned char const* data, size_t len) override {
        passed_ += len;
        if (passed_ > limit_) throw JoinedContentTooLarge{};
        getNext()->write(data, len);
    }
    // The next pipeline is the writer's: finishing it is the writer's job.
    void finish() override {}

  private:
    const std::uint64_t limit_;
    std::uint64_t passed_ = 0;
};

// A number as PDF content writes it: fixed point, no exponent.
std::string Num(double v) {
    if (!std::isfinite(v) || std::fabs(v) < 5e-7) return "0";
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.6f", v);
    std::string s(buf);
    while (s.back() == '0') s.pop_back();
    if (s.back() == '.') s.pop_back();
    return s;
}

QPDFObjectHandle RectangleOf(const PdfBox& b) {
    return QPDFObjectHandle::newArray(QPDFObjectHandle::Rectangle(b.X0, b.Y0, b.X1, b.Y1));
}

}  // namespace

PdfLimits PdfLimitsWithin(std::uint64_t memoryBytes) {
    PdfLimits limits;
    limits.MaxUsedObjects = std::max<std::uint64_t>(memoryBytes / (5 << 10), 1);
    limits.MaxUsedValues = std::max<std::uint64_t>(memoryBytes / 256, 1);
    limits.MaxObjects = limits.MaxUsedValues;
    return limits;
}

bool StartsLikePdf(int fd) {
    char head[kHeaderWindow];
    ssize_t got = 0;
    do {
        got = ::pread(fd, head, sizeof head, 0);
    } while (got < 0 && errno == EINTR);
    if (got <= 0) return false;
    return std::string_view(head, static_cast<std::size_t>(got)).find("%PDF-") !=
           std::string_view::npos;
}

struct PdfDocument::State {
    UniqueFd fd;
    std::string path;
    FileIdentity identity;
    PdfLimits limits;
    QPDF pdf;
    std::vector<QPDFObjectHandle> pages;
    std::vector<PdfPageView> views;
    bool repaired = false;
    bool written = false;
    PlacementMode mode;
};

PdfDocument::PdfDocument(std::unique_ptr<State> state) : s_(std::move(state)) {}
PdfDocument::~PdfDocument() = default;

void PdfDocument::SetPlacement(const PlacementMode& mode) {
    s_->mode = mode;
}

int PdfDocument::PageCount() const {
    return static_cast<int>(s_->views.size());
}
const PdfPageView& PdfDocument::Page(int index) const {
    return s_->views.at(static_cast<std::size_t>(index));
}
bool PdfDocument::Repaired() const {
    return s_->repaired;
}
const FileIdentity& PdfDocument::Identity() const {
    return s_->identity;
}

namespace {

// qpdf draws a field's value as a filter on its appearance stream, applied
// when the stream is read; the page is copied into the job as stored, so
// each drawn appearance is stored as read, value and all.
void DrawFormFields(QPDF& pdf, const std::vector<QPDFObjectHandle>& pages) {
    try {
        QPDFAcroFormDocumentHelper form(pdf);
        if (!form.getNeedAppearances()) return;
        form.generateAppearancesIfNeeded();
        for (const QPDFObjectHandle& page : pages) {
            QPDFPageObjectHelper helper(page);
            for (QPDFAnnotationObjectHelper& widget : form.getWidgetAnnotationsForPage(helper)) {
                QPDFObjectHandle look = widget.getAppearanceStream("/N");
                if (!look.isStream()) continue;
                look.replaceStreamData(look.getStreamData(qpdf_dl_generalized),
                                       QPDFObjectHandle::newNull(), QPDFObjectHandle::newNull());
            }
        }
    } catch (const std::exception&) {
        // A field qpdf cannot draw prints as it would have without.
    }
}

// Open's steps past the file's opening; qpdf's exceptions pass through.
Status CheckDocument(PdfDocument::State& s);

}  // namespace

Result<std::unique_ptr<PdfDocument>> PdfDocument::Open(UniqueFd fd, std::string path,
                                                       const FileIdentity& identity,
                                                       const PdfLimits& limits) {
    auto s = std::make_unique<State>();
    s->fd = std::move(fd);
    s->path = std::move(path);
    s->identity = identity;
    s->limits = limits;
    // qpdf reads through a stream of its own on a duplicate; both share the
    // open file, which is the file that was loaded whatever the path names
    // by now.
    UniqueFd forQpdf(::fcntl(s->fd.get(), F_DUPFD_CLOEXEC, 0));
    std::FILE* file = forQpdf ? ::fdopen(forQpdf.get(), "rb") : nullptr;
    if (file == nullptr) {
        return {nullptr, Status::Failure(HF_ERR_NOT_IMAGE,
                                         std::string("cannot read: ") + std::strerror(errno))};
    }
    forQpdf.release();  // the stream owns it now
    try {
        s->pdf.setSuppressWarnings(true);
        s->pdf.setAttemptRecovery(true);
        // Named after the file alone: qpdf puts the name before its words.
        const std::string name = s->path.substr(s->path.rfind('/') + 1);
        s->pdf.processFile(name.c_str(), file, true);
    } catch (const QPDFExc& e) {
        if (e.getErrorCode() == qpdf_e_password) {
            return {nullptr, Status::Failure(HF_ERR_PROTECTED,
                                             "the document needs a password to be opened")};
        }
        return {nullptr, Damaged(e.what())};
    } catch (const std::exception& e) {
        return {nullptr, Damaged(e.what())};
    }
    try {
        if (Status checked = CheckDocument(*s); !checked.Ok()) return {nullptr, std::move(checked)};
    } catch (const std::exception& e) {
        return {nullptr, Damaged(e.what())};
    }
    return {std::unique_ptr<PdfDocument>(new PdfDocument(std::move(s))), {}};
}

namespace {

Status CheckDocument(PdfDocument::State& s) {
    QPDF& pdf = s.pdf;
    // Whatever qpdf had to say while opening means it repaired the file.
    const std::string repair = TakeWarnings(pdf);
    s.repaired = !repair.empty();
    if (pdf.isEncrypted() && !pdf.allowPrintLowRes() && !pdf.allowPrintHighRes()) {
        return Status::Failure(HF_ERR_PROTECTED, "the document does not allow printing");
    }
    // The file's own count, which costs nothing to read (qpdf's count would
    // read every object first).
    if (QPDFObjectHandle size = pdf.getTrailer().getKey("/Size");
        size.isInteger() && size.getIntValue() > 0 &&
        static_cast<std::uint64_t>(size.getIntValue()) > s.limits.MaxObjects) {
        return TooLarge(std::to_string(size.getIntValue()) + " objects, more than the " +
                        std::to_string(s.limits.MaxObjects) + " a document may have");
    }
    QPDFObjectHandle tree = pdf.getRoot().getKey("/Pages");
    if (!tree.isDictionary()) return Damaged("the document has no page tree");
    const PageTreeCount count = CountPages(tree, s.limits.MaxPages);
    if (count.OverLimit) {
        return TooLarge("more than the " + std::to_string(s.limits.MaxPages) +
                        " pages a document may have");
    }
    if (!count.Damage.empty()) return Damaged(count.Damage);
    // A repaired file whose page tree holds fewer pages than it says was cut
    // short or lost part of itself: printing what is left would print a
    // part as if it were the whole.
    QPDFObjectHandle declared = tree.getKey("/Count");
    if (s.repaired && (!declared.isInteger() || declared.getIntValue() < 0 ||
                       static_cast<std::uint64_t>(declared.getIntValue()) != count.Leaves)) {
        return Damaged("the page tree counts " +
                       (declared.isInteger() ? std::to_string(declared.getIntValue()) : "no") +
                       " pages but holds " + std::to_string(count.Leaves) + " after repair (" +
                       repair + ")");
    }
    s.pages = pdf.getAllPages();
    if (const std::string w = TakeWarnings(pdf); !w.empty()) return Damaged(w);
    if (s.pages.size() != count.Leaves) {
        return Damaged("the page tree holds " + std::to_string(count.Leaves) + " pages, of which " +
                       std::to_string(s.pages.size()) + " can be read");
    }
    if (s.pages.empty()) return Status::Failure(HF_ERR_NO_PAGES, "the document has no pages");
    // A form that asks viewers to draw its fields (NeedAppearances, as
    // programs that fill forms in set it) gets its text and list fields
    // drawn in their own font and size, as a viewer shows them; a filled-in
    // field would otherwise print empty. What qpdf cannot draw stays as it
    // was, and is left out below.
    DrawFormFields(pdf, s.pages);
    // Annotations a viewer prints (stamps, notes, filled-in form fields with
    // their appearance) become part of their pages, as they print. What qpdf
    // says while drawing fields or doing so (a form whose fields have no
    // appearance to print) is no damage: those annotations are left out, as
    // some viewers leave them out.
    QPDFPageDocumentHelper(pdf).flattenAnnotations(an_print, an_invisible | an_hidden);
    TakeWarnings(pdf);

    std::set<QPDFObjGen> seen;
    UsedObjects used;
    for (std::size_t i = 0; i < s.pages.size(); ++i) {
        const std::optional<PdfPageView> view = ViewOf(s.pages[i]);
        if (!view) return Damaged(PageName(i) + " has no area");
        s.views.push_back(*view);
        CollectUsed(s.pages[i], i, s.limits, seen, used);
        if (!used.TooLarge.empty()) return TooLarge(used.TooLarge);
    }
    if (const std::string w = TakeWarnings(pdf); !w.empty()) return Damaged(w);
    if (!used.TooLarge.empty()) return TooLarge(used.TooLarge);
    if (s.repaired) {
        // After a repair, nothing the pages use may be missing, and every
        // stream must read to its end as stored (no decoding): a file cut
        // short fails here, before any of it is sent.
        if (!used.Missing.empty()) return Damaged(used.Missing + " (" + repair + ")");
        Pl_Discard discard;
        for (QPDFObjectHandle stream : used.Streams) {
            if (!stream.pipeStreamData(&discard, nullptr, 0, qpdf_dl_none)) {
                return Damaged("a stream cannot be read (" + TakeWarnings(pdf) + ")");
            }
        }
        if (const std::string w = TakeWarnings(pdf); !w.empty()) return Damaged(w);
    }
    return Status::Success();
}

// The form XObject that draws one page of src: the page's own contents
// (copied as stored when there is one stream, joined and decoded when there
// are several), its resources and transparency group, its visible box as
// the bounding box. Made in out; the stream data is read from src while out
// is written.
QPDFObjectHandle PageForm(QPDF& src, QPDF& out, QPDFObjectHandle page, const PdfPageView& view,
                          const PdfLimits& limits) {
    QPDFPageObjectHelper helper(page);
    std::vector<QPDFObjectHandle> contents = ContentStreams(page);
    // Everything the form takes from the page, copied in one go: shared
    // objects (fonts, images used on several pages) are copied once.
    QPDFObjectHandle wanted = QPDFObjectHandle::newDictionary();
    QPDFObjectHandle resources = helper.getAttribute("/Resources", false);
    wanted.replaceKey("/Resources",
                      resources.isDictionary() ? resources : QPDFObjectHandle::newDictionary());
    if (QPDFObjectHandle group = page.getKey("/Group"); group.isDictionary()) {
        wanted.replaceKey("/Group", group);
    }
    if (contents.size() == 1) {
        QPDFObjectHandle dict = contents.front().getDict();
        wanted.replaceKey("/Filter", dict.getKey("/Filter"));
        wanted.replaceKey("/DecodeParms", dict.getKey("/DecodeParms"));
    }
    QPDFObjectHandle copied = out.copyForeignObject(src.makeIndirectObject(wanted));

    QPDFObjectHandle form = out.newStream();
    QPDFObjectHandle dict = form.getDict();
    dict.replaceKey("/Type", QPDFObjectHandle::newName("/XObject"));
    dict.replaceKey("/Subtype", QPDFObjectHandle::newName("/Form"));
    dict.replaceKey("/BBox", RectangleOf(view.Box));
    dict.replaceKey("/Resources", copied.getKey("/Resources"));
    if (copied.hasKey("/Group")) dict.replaceKey("/Group", copied.getKey("/Group"));

    if (contents.size() == 1) {
        QPDFObjectHandle stream = contents.front();
        form.replaceStreamData(
            [stream](Pipeline* p, bool suppressWarnings, bool willRetry) mutable {
                return stream.pipeStreamData(p, nullptr, 0, qpdf_dl_none, suppressWarnings,
                                             willRetry);
            },
            copied.getKey("/Filter"), copied.getKey("/DecodeParms"));
    } else {
        // Pieces of a page's contents may split an operator between them,
        // so they can only be joined decoded; the writer compresses the
        // result again.
        const std::uint64_t limit = limits.MaxJoinedContentBytes;
        form.replaceStreamData(
            [contents, limit](Pipeline* p, bool suppressWarnings, bool) mutable {
                LimitPipeline limited(p, limit);
                bool ok = true;
                for (QPDFObjectHandle& piece : contents) {
                    ok = piece.pipeStreamData(&limited, nullptr, 0, qpdf_dl_generalized,
                                              suppressWarnings, false) &&
                         ok;
                    limited.write(reinterpret_cast<const unsigned char*>("\n"), 1);
                }
                p->finish();
                return ok;
            },
            QPDFObjectHandle::newNull(), QPDFObjectHandle::newNull());
    }
    return form;
}

// One sheet: the printable area as the clip, the page's form placed with
// one matrix.
QPDFObjectHandle Sheet(QPDF& out, QPDFObjectHandle form, const PageGeometry& g,
                       const PdfMatrix& m) {
    const PdfBox area = PrintableArea(g);
    const std::string content = "q " + Num(area.X0) + " " + Num(area.Y0) + " " + Num(area.Width()) +
                                " " + Num(area.Height()) + " re W n " + Num(m.A) + " " + Num(m.B) +
                                " " + Num(m.C) + " " + Num(m.D) + " " + Num(m.E) + " " + Num(m.F) +
                                " cm /Pg Do Q\n";
    QPDFObjectHandle xobjects = QPDFObjectHandle::newDictionary();
    xobjects.replaceKey("/Pg", form);
    QPDFObjectHandle resources = QPDFObjectHandle::newDictionary();
    resources.replaceKey("/XObject", xobjects);
    QPDFObjectHandle sheet = QPDFObjectHandle::newDictionary();
    sheet.replaceKey("/Type", QPDFObjectHandle::newName("/Page"));
    sheet.replaceKey("/MediaBox", RectangleOf({0, 0, g.MediaWidthPt, g.MediaHeightPt}));
    sheet.replaceKey("/Resources", resources);
    sheet.replaceKey("/Contents", out.newStream(content));
    return out.makeIndirectObject(sheet);
}

}  // namespace

Status PdfDocument::Write(const PageGeometry& g, const ByteSink& sink, const StopSignal& stop) {
    State& s = *s_;
    if (s.written) return Status::Failure(HF_ERR_JOB_FAILED, "the document was written already");
    s.written = true;
    if (!sink) return Status::Failure(HF_ERR_JOB_FAILED, "no sink for the document");
    if (g.Rx <= 0 || g.Ry <= 0 || g.Pw <= 0 || g.Ph <= 0 || !(g.MediaWidthPt > 0) ||
        !(g.MediaHeightPt > 0)) {
        return Status::Failure(HF_ERR_NO_PAGE_SIZE, "no usable page size");
    }
    std::vector<Placement> fits;
    for (std::size_t i = 0; i < s.views.size(); ++i) {
        fits.push_back(PlacePdfPageAs(s.views[i], g, s.mode));
        if (fits.back().Tw <= 0 || fits.back().Th <= 0) {
            return TooLarge(PageName(i) +
                            " is so long and thin that it would be less than a dot wide");
        }
    }
    // Damage found while reading is the change's doing when the file changed.
    const auto readFailure = [&s](std::string words) {
        if (Status same = SameFileAsLoaded(s.fd.get(), s.path, s.identity); !same.Ok()) {
            return same;
        }
        return Damaged(std::move(words));
    };
    SinkPipeline pipe(sink, stop);
    try {
        QPDF out;
        out.setSuppressWarnings(true);
        out.emptyPDF();
        QPDFPageDocumentHelper sheets(out);
        for (std::size_t i = 0; i < s.pages.size(); ++i) {
            if (stop.Requested()) throw StopRequested{};
            QPDFObjectHandle form = PageForm(s.pdf, out, s.pages[i], s.views[i], s.limits);
            QPDFObjectHandle sheet = Sheet(out, form, g, PlacePdfPage(s.views[i], g, fits[i]));
            sheets.addPage(QPDFPageObjectHelper(sheet), false);
        }
        QPDFWriter writer(out);
        writer.setOutputPipeline(&pipe);
        // Streams go out as they are stored; only the new, uncompressed
        // ones (the sheets, joined contents) are compressed.
        writer.setDecodeLevel(qpdf_dl_none);
        writer.setCompressStreams(true);
        writer.setMinimumPDFVersion(s.pdf.getPDFVersion(), s.pdf.getExtensionLevel());
        writer.write();
        std::string warned = TakeWarnings(s.pdf);
        if (warned.empty()) warned = TakeWarnings(out);
        if (!warned.empty()) return readFailure(warned);
    } catch (const StopRequested&) {
        return Status::Failure(HF_ERR_UNREACHABLE, "stop requested");
    } catch (const SinkRefused&) {
        return Status::Failure(HF_ERR_JOB_FAILED, "the document could not be sent");
    } catch (const JoinedContentTooLarge&) {
        return TooLarge("a page's contents are more than " +
                        std::to_string(s.limits.MaxJoinedContentBytes >> 20) + " MiB");
    } catch (const std::exception& e) {
        return readFailure(e.what());
    }
    if (Status same = SameFileAsLoaded(s.fd.get(), s.path, s.identity); !same.Ok()) return same;
    if (stop.Requested()) return Status::Failure(HF_ERR_UNREACHABLE, "stop requested");
    if (!pipe.Release())
        return Status::Failure(HF_ERR_JOB_FAILED, "the document could not be sent");
    return Status::Success();
}

}  // namespace tallowin

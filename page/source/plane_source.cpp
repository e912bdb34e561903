#include "page/source/plane_source.h"

#include <cstdint>
#include <cstring>
#include <functional>
#include <utility>
#include <vector>

#include "page/resample/linear_reducer.h"
#include "page/resample/linear_resampler.h"
#include "page/source/upright_rows.h"

namespace tallowin {

namespace {

using PlanePump = std::function<Status(const PlaneRowSink&)>;

Status PlanesStopped() {
    return Status::Failure(HF_ERR_UNREACHABLE, "the page was stopped");
}

Status PlanesEndedEarly() {
    return Status::Failure(HF_ERR_DAMAGED, "the image ended early");
}

// An image's planes in the orientation they are resampled in: its luma
// size, and for each plane its size, the luma pixels one of its samples
// spans and where its grid starts: sample j is centred on luma position
// (j + 0.5) * Step + Start, luma pixel i spanning i .. i + 1. Start is 0
// but on an axis flipped from the stored one, where the far edge of the
// image may cut into the last sample.
struct PlaneSet {
    int Count = 0;
    int LumaW = 0, LumaH = 0;
    int W[3] = {}, H[3] = {};
    double StepX[3] = {1, 1, 1}, StepY[3] = {1, 1, 1};
    double StartX[3] = {}, StartY[3] = {};
};

PlaneSet DecodedPlanes(const JpegRows& rows) {
    PlaneSet p;
    p.Count = rows.Layout().Count;
    p.LumaW = rows.Width();
    p.LumaH = rows.Height();
    for (int c = 0; c < p.Count; ++c) {
        const JpegRows::Plane plane = rows.PlaneSize(c);
        p.W[c] = plane.Width;
        p.H[c] = plane.Height;
        p.StepX[c] = plane.StepX;
        p.StepY[c] = plane.StepY;
    }
    return p;
}

// The planes of a page of w x h sampled as layout says.
PlaneSet PagePlanes(const PlaneLayout& layout, int w, int h) {
    PlaneSet p;
    p.Count = layout.Count;
    p.LumaW = w;
    p.LumaH = h;
    for (int c = 0; c < p.Count; ++c) {
        p.W[c] = PlaneWidth(layout, c, w);
        p.H[c] = PlaneHeight(layout, c, h);
        p.StepX[c] = static_cast<double>(layout.H[0]) / layout.H[c];
        p.StepY[c] = static_cast<double>(layout.V[0]) / layout.V[c];
    }
    return p;
}

// Whether orientation's upright x (y) axis runs against the stored axis it
// comes from.
bool MirrorsX(int o) {
    return o == 2 || o == 3 || o == 6 || o == 7;
}
bool MirrorsY(int o) {
    return o == 3 || o == 4 || o == 7 || o == 8;
}

// Where a grid of n samples of step f starting at start lies seen from the
// far end of an axis of length luma.
double FlippedStart(int luma, int n, double f, double start) {
    return luma - n * f - start;
}

// The planes as they are seen upright under orientation.
PlaneSet Turned(const PlaneSet& p, int orientation) {
    const bool swap = SwapsAxes(orientation);
    PlaneSet t;
    t.Count = p.Count;
    t.LumaW = swap ? p.LumaH : p.LumaW;
    t.LumaH = swap ? p.LumaW : p.LumaH;
    for (int c = 0; c < p.Count; ++c) {
        t.W[c] = swap ? p.H[c] : p.W[c];
        t.H[c] = swap ? p.W[c] : p.H[c];
        t.StepX[c] = swap ? p.StepY[c] : p.StepX[c];
        t.StepY[c] = swap ? p.StepX[c] : p.StepY[c];
        const double startX = swap ? p.StartY[c] : p.StartX[c];
        const double startY = swap ? p.StartX[c] : p.StartY[c];
        t.StartX[c] =
            MirrorsX(orientation) ? FlippedStart(t.LumaW, t.W[c], t.StepX[c], startX) : startX;
        t.StartY[c] =
            MirrorsY(orientation) ? FlippedStart(t.LumaH, t.H[c], t.StepY[c], startY) : startY;
    }
    return t;
}

// Plane sample positions: a page sample at page luma position q is taken
// from source luma position s * q + shift, where the source's plane has
// step f and start from, the page's step g and start to.
AxisSampling Sampling(double s, double shift, double f, double from, double g, double to) {
    return {s * g / f, (s * (0.5 * g + to) + shift - from) / f - 0.5};
}

// One plane's rows through its resampler, or as they are.
class PlaneStage {
  public:
    enum class Kind { Same, Enlarge, Reduce, Reducer };

    PlaneStage(Kind kind, int sw, int sh, int dw, int dh, AxisSampling across, AxisSampling down) {
        if (kind == Kind::Reducer) {
            reducer_ = std::make_unique<LinearReducer>(1, sw, sh, dw, dh, across, down);
        } else if (kind != Kind::Same || across.Scale != 1.0 || across.Offset != 0.0 ||
                   down.Scale != 1.0 || down.Offset != 0.0) {
            resampler_ = std::make_unique<LinearResampler>(1, sw, sh, dw, dh, kind == Kind::Enlarge,
                                                           across, down);
        }
    }

    bool Push(int y, const unsigned char* row, const RowSink& emit) {
        if (resampler_) return resampler_->Push(y, row, emit);
        if (reducer_) return reducer_->Push(y, row, emit);
        ++passed_;
        return emit(row);
    }
    int RowsOut() const {
        return resampler_ ? resampler_->RowsOut() : reducer_ ? reducer_->RowsOut() : passed_;
    }

  private:
    std::unique_ptr<LinearResampler> resampler_;
    std::unique_ptr<LinearReducer> reducer_;
    int passed_ = 0;
};

PlaneStage::Kind KindOf(int sw, int sh, int dw, int dh) {
    if (sw == dw && sh == dh) return PlaneStage::Kind::Same;
    if (dw >= sw && dh >= sh) return PlaneStage::Kind::Enlarge;
    if (LinearResampler::Handles(sw, sh, dw, dh)) return PlaneStage::Kind::Reduce;
    return PlaneStage::Kind::Reducer;
}

// The stages that take the planes from to the planes to, the kernel chosen
// by the luma sizes. mirrorX, mirrorY: enlarging, sample that axis as if
// enlarged the other way round and then flipped (see LinearResampler).
std::vector<PlaneStage> Stages(const PlaneSet& from, const PlaneSet& to, bool mirrorX,
                               bool mirrorY) {
    const PlaneStage::Kind kind = KindOf(from.LumaW, from.LumaH, to.LumaW, to.LumaH);
    const double sx = static_cast<double>(from.LumaW) / to.LumaW;
    const double sy = static_cast<double>(from.LumaH) / to.LumaH;
    // Enlarging samples output pixel x at x * s - 0.5, half an output pixel
    // (s / 2 source pixels) before the centred position, or after it seen
    // from the far end.
    const bool enlarging = kind == PlaneStage::Kind::Enlarge;
    const double shiftX = enlarging ? (mirrorX ? sx : -sx) / 2 : 0.0;
    const double shiftY = enlarging ? (mirrorY ? sy : -sy) / 2 : 0.0;
    std::vector<PlaneStage> stages;
    for (int c = 0; c < from.Count; ++c) {
        stages.emplace_back(
            kind, from.W[c], from.H[c], to.W[c], to.H[c],
            Sampling(sx, shiftX, from.StepX[c], from.StartX[c], to.StepX[c], to.StartX[c]),
            Sampling(sy, shiftY, from.StepY[c], from.StartY[c], to.StepY[c], to.StartY[c]));
    }
    return stages;
}

// pump's planes through stages into out, to's sizes checked at the end.
Status RunStages(const PlanePump& pump, std::vector<PlaneStage>& stages, const PlaneSet& to,
                 const PlaneRowSink& out) {
    std::vector<RowSink> emits;
    for (int c = 0; c < to.Count; ++c) {
        emits.emplace_back([&out, c](const unsigned char* r) { return out(c, r); });
    }
    int y[3] = {};
    Status s = pump([&](int c, const unsigned char* r) {
        return c < to.Count && stages[static_cast<std::size_t>(c)].Push(
                                   y[c]++, r, emits[static_cast<std::size_t>(c)]);
    });
    if (!s.Ok()) return s;
    for (int c = 0; c < to.Count; ++c) {
        if (stages[static_cast<std::size_t>(c)].RowsOut() != to.H[c]) return PlanesEndedEarly();
    }
    return Status::Success();
}

// Every plane of p held whole, plane c W[c] x H[c] bytes.
struct HeldPlanes {
    std::vector<unsigned char> Bytes[3];
};

Status GatherPlanes(const PlanePump& pump, const PlaneSet& p, HeldPlanes& held) {
    int filled[3] = {};
    for (int c = 0; c < p.Count; ++c) {
        held.Bytes[c].resize(static_cast<std::size_t>(p.W[c]) * static_cast<std::size_t>(p.H[c]));
    }
    Status s = pump([&](int c, const unsigned char* r) {
        if (c >= p.Count || filled[c] >= p.H[c]) return false;
        const auto w = static_cast<std::size_t>(p.W[c]);
        std::memcpy(held.Bytes[c].data() + w * static_cast<std::size_t>(filled[c]++), r, w);
        return true;
    });
    if (!s.Ok()) return s;
    for (int c = 0; c < p.Count; ++c) {
        if (filled[c] != p.H[c]) return PlanesEndedEarly();
    }
    return Status::Success();
}

// held (planes stored as stored describes) given upright under orientation,
// the planes interleaved in step with the luma's rows.
Status GiveUpright(const HeldPlanes& held, const PlaneSet& stored, int orientation,
                   const PlaneRowSink& row) {
    const PlaneSet upright = Turned(stored, orientation);
    std::vector<UprightRows> views;
    views.reserve(3);
    for (int c = 0; c < stored.Count; ++c) {
        views.emplace_back(held.Bytes[c], stored.W[c], stored.H[c], orientation, 1);
    }
    int done[3] = {};
    const std::int64_t lumaRows = upright.H[0];
    for (std::int64_t i = 0; i <= lumaRows; ++i) {
        for (int c = 0; c < upright.Count; ++c) {
            // The last round gives whatever a plane has left.
            const std::int64_t due =
                i == lumaRows ? upright.H[c] : ((i + 1) * upright.H[c] + lumaRows - 1) / lumaRows;
            for (; done[c] < due; ++done[c]) {
                if (!row(c, views[static_cast<std::size_t>(c)].Row(done[c])))
                    return PlanesStopped();
            }
        }
    }
    return Status::Success();
}

class JpegPlanesSource final : public PageSource {
  public:
    JpegPlanesSource(std::unique_ptr<JpegRows> rows, const std::string& loader, int storedW,
                     int storedH, int width, int height, int orientation)
        : PageSource(loader, storedW, storedH, width, height, PageCodec::Dct,
                     SwapsAxes(orientation) ? Transposed(rows->Layout()) : rows->Layout()),
          rows_(std::move(rows)),
          orientation_(orientation) {}

    Status Pump(const RowSink&) override {
        return Status::Failure(HF_ERR_JOB_FAILED, "the page comes as planes");
    }

    Status PumpPlanes(const PlaneRowSink& row) override {
        try {
            const PlaneSet decoded = DecodedPlanes(*rows_);
            const PlanePump decoder = [this](const PlaneRowSink& r) {
                return rows_->ReadPlanes(r);
            };
            if (orientation_ == 1) {
                const PlaneSet page = PagePlanes(planes_, width_, height_);
                std::vector<PlaneStage> stages = Stages(decoded, page, false, false);
                return RunStages(decoder, stages, page, row);
            }
            const bool swap = SwapsAxes(orientation_);
            const int tw = swap ? height_ : width_, th = swap ? width_ : height_;
            // The smaller of the source and the page is held.
            if (std::int64_t{tw} * th > std::int64_t{decoded.LumaW} * decoded.LumaH) {
                return PumpTurnedSource(decoder, decoded, row);
            }
            return PumpTurnedPage(decoder, decoded, tw, th, row);
        } catch (...) {
            return Status::Failure(HF_ERR_JOB_FAILED, "the page's rows could not be taken");
        }
    }

  private:
    // Enlarged: the source held, turned upright and resampled from there,
    // as if enlarged as stored and then turned.
    Status PumpTurnedSource(const PlanePump& decoder, const PlaneSet& decoded,
                            const PlaneRowSink& row) {
        HeldPlanes held;
        if (Status s = GatherPlanes(decoder, decoded, held); !s.Ok()) return s;
        const PlaneSet upright = Turned(decoded, orientation_);
        const PlaneSet page = PagePlanes(planes_, width_, height_);
        std::vector<PlaneStage> stages =
            Stages(upright, page, MirrorsX(orientation_), MirrorsY(orientation_));
        return RunStages(
            [&](const PlaneRowSink& r) { return GiveUpright(held, decoded, orientation_, r); },
            stages, page, row);
    }

    // Otherwise: the page made as stored (tw x th) and held, then turned.
    // Its grids start from the far end on the axes the turn flips, so that
    // upright they start at the page's top-left as the encoder has them.
    Status PumpTurnedPage(const PlanePump& decoder, const PlaneSet& decoded, int tw, int th,
                          const PlaneRowSink& row) {
        const bool swap = SwapsAxes(orientation_);
        const bool flipsX = swap ? MirrorsY(orientation_) : MirrorsX(orientation_);
        const bool flipsY = swap ? MirrorsX(orientation_) : MirrorsY(orientation_);
        PlaneSet page = PagePlanes(rows_->Layout(), tw, th);
        for (int c = 0; c < page.Count; ++c) {
            if (flipsX) page.StartX[c] = FlippedStart(tw, page.W[c], page.StepX[c], 0.0);
            if (flipsY) page.StartY[c] = FlippedStart(th, page.H[c], page.StepY[c], 0.0);
        }
        std::vector<PlaneStage> stages = Stages(decoded, page, false, false);
        HeldPlanes held;
        const Status made = GatherPlanes(
            [&](const PlaneRowSink& r) { return RunStages(decoder, stages, page, r); }, page, held);
        if (!made.Ok()) return made;
        return GiveUpright(held, page, orientation_, row);
    }

    std::unique_ptr<JpegRows> rows_;
    const int orientation_;
};

}  // namespace

bool PlanesResample(int sw, int sh, int w, int h) {
    return sw > 0 && sh > 0 && w > 0 && h > 0 && sw / w < 512 && sh / h < 512;
}

std::unique_ptr<PageSource> MakeJpegPlanesSource(std::unique_ptr<JpegRows> planes,
                                                 const std::string& loader, int storedW,
                                                 int storedH, int width, int height,
                                                 int orientation) {
    return std::make_unique<JpegPlanesSource>(std::move(planes), loader, storedW, storedH, width,
                                              height, orientation);
}

}  // namespace tallowin

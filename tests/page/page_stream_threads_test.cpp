// The page stream's two threads on rows made in memory, no decoder, so that
// a ThreadSanitizer build can run every way a page ends quickly: the whole
// page, a source that fails, overruns or throws part way, a sink that
// refuses and a stop, for RGB rows and for 4:2:0 planes (odd sizes, so the
// last block row is short). Small strips and a ring of two make the threads
// hand over often.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "page/page_stream.h"
#include "tests/support/test_page.h"

namespace tallowin {
namespace {

enum class Ending { Whole, FailsHalfway, OneRowTooMany, ThrowsHalfway };

constexpr PlaneLayout kQuarterChroma{.Count = 3, .H = {2, 1, 1}, .V = {2, 1, 1}};

class MadeSource final : public PageSource {
  public:
    MadeSource(int width, int height, PageCodec codec, Ending ending, bool planes)
        : PageSource("made", width, height, width, height, codec,
                     planes ? kQuarterChroma : PlaneLayout{}),
          ending_(ending) {}

    // Each luma row, and after every second one a row of each chroma plane.
    Status PumpPlanes(const PlaneRowSink& row) override {
        return Pump([&](const unsigned char* bytes) {
            if (!row(0, bytes)) return false;
            if (++lumaRows_ % 2 == 0 || lumaRows_ == height_) {
                return row(1, bytes + 1) && row(2, bytes + 2);
            }
            return true;
        });
    }

    Status Pump(const RowSink& row) override {
        std::vector<unsigned char> bytes(static_cast<std::size_t>(width_) * 3);
        const int rows = ending_ == Ending::OneRowTooMany ? height_ + 1 : height_;
        for (int y = 0; y < rows; ++y) {
            if (y == height_ / 2 && ending_ == Ending::FailsHalfway) {
                return Status::Failure(HF_ERR_DAMAGED, "cut short");
            }
            if (y == height_ / 2 && ending_ == Ending::ThrowsHalfway) {
                throw std::runtime_error("decoder gave up");
            }
            for (std::size_t i = 0; i < bytes.size(); ++i) {
                bytes[i] = static_cast<unsigned char>(i * 7 + static_cast<std::size_t>(y) * 3);
            }
            if (!row(bytes.data())) return Status::Failure(HF_ERR_UNREACHABLE, "stopped");
        }
        return Status::Success();
    }

  private:
    const Ending ending_;
    int lumaRows_ = 0;
};

struct Case {
    const char* Name;
    PageCodec Codec;
    Ending End;
    std::size_t SinkTakes;  // bytes the sink takes before it refuses; 0: all
    int StopAtQuery;        // the stop query that says stop; 0: never
    int Code;               // HF_ERR_NONE: a whole document
    bool Planes = false;    // 4:2:0 planes rather than RGB rows
};

class PageStreamThreadsTest : public testing::TestWithParam<Case> {};

TEST_P(PageStreamThreadsTest, EndsAsTheSourceSinkAndStopSay) {
    const Case& c = GetParam();
    MadeSource source(97, 201, c.Codec, c.End, c.Planes);
    std::string document;
    int queries = 0;
    const Status s = StreamPage(
        source, TestPageGeometry(),
        [&](const unsigned char* d, std::size_t n) {
            if (c.SinkTakes != 0 && document.size() + n > c.SinkTakes) return false;
            document.append(reinterpret_cast<const char*>(d), n);
            return true;
        },
        [&] { return c.StopAtQuery != 0 && ++queries >= c.StopAtQuery; },
        PageStreamOptions{.StripRows = 8, .RingSlots = 2, .FlateLevel = 1, .BeforeEnd = {}});

    EXPECT_EQ(s.Code, c.Code) << s.Reason;
    const bool whole = document.find("%%EOF") != std::string::npos;
    EXPECT_EQ(whole, c.Code == HF_ERR_NONE) << document.size() << " bytes";
}

INSTANTIATE_TEST_SUITE_P(
    Endings, PageStreamThreadsTest,
    testing::Values(
        Case{"JpegWhole", PageCodec::Dct, Ending::Whole, 0, 0, HF_ERR_NONE},
        Case{"LosslessWhole", PageCodec::FlateUp, Ending::Whole, 0, 0, HF_ERR_NONE},
        Case{"SourceFails", PageCodec::Dct, Ending::FailsHalfway, 0, 0, HF_ERR_DAMAGED},
        Case{"SourceOverruns", PageCodec::FlateUp, Ending::OneRowTooMany, 0, 0, HF_ERR_DAMAGED},
        Case{"SourceThrows", PageCodec::Dct, Ending::ThrowsHalfway, 0, 0, HF_ERR_DAMAGED},
        Case{"SinkRefuses", PageCodec::Dct, Ending::Whole, 4096, 0, HF_ERR_JOB_FAILED},
        Case{"Stopped", PageCodec::Dct, Ending::Whole, 0, 3, HF_ERR_UNREACHABLE},
        Case{"PlanesWhole", PageCodec::Dct, Ending::Whole, 0, 0, HF_ERR_NONE, true},
        Case{"PlanesFail", PageCodec::Dct, Ending::FailsHalfway, 0, 0, HF_ERR_DAMAGED, true},
        Case{"PlanesOverrun", PageCodec::Dct, Ending::OneRowTooMany, 0, 0, HF_ERR_DAMAGED, true},
        Case{"PlanesThrow", PageCodec::Dct, Ending::ThrowsHalfway, 0, 0, HF_ERR_DAMAGED, true},
        Case{"PlanesStopped", PageCodec::Dct, Ending::Whole, 0, 3, HF_ERR_UNREACHABLE, true}),
    [](const testing::TestParamInfo<Case>& info) { return std::string(info.param.Name); });

}  // namespace
}  // namespace tallowin

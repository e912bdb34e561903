// Where a resampler's output pixels sample their source on one axis: output
// pixel i is centred on source pixel Scale * i + Offset (pixel indices, so
// source pixel j's centre is j). Resampling planes of different sizes
// (a JPEG's chroma beside its luma) needs the positions given outright:
// each plane's grid is not the page's grid scaled by whole sizes.
#pragma once

namespace tallowin {

struct AxisSampling {
    double Scale = 1.0;   // source pixels per output pixel
    double Offset = 0.0;  // the centre of output pixel 0, in source pixels
};

}  // namespace tallowin

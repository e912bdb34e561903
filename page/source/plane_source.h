// A JPEG's page made of its own planes (Y, Cb and Cr, or grey): each plane
// decoded as stored, resampled at its own size with its samples where the
// file has them (chroma centred on the luma it spans, so it does not
// shift), and handed on as planes for the page encoder to write as they
// are, in the source's sampling. No colour conversion and no chroma
// upsampling: a 4:2:0 photo's chroma is a quarter of its pixels all the
// way through.
//
// Resampling follows the page's luma: enlarged, a bilinear tent sampling
// as LinearResampler's header says; reduced by less than 2, its triangle;
// by 2 or more, LinearReducer's box and triangle. Each plane samples the
// same points of the picture its luma does. An image stored turned is held
// whole as the RGB path holds it (see PageSource), plane by plane: the
// source when it is enlarged (turned, then resampled upright), else the
// page (resampled as stored, then turned).
#pragma once

#include <memory>
#include <string>

#include "page/source/jpeg_rows.h"
#include "page/source/page_source.h"

namespace tallowin {

// True when the planes of an image decoded sw x sh are resampled to a page
// of w x h (stored orientation): any sizes, each axis reduced by less than
// 512. A page stretched one way and squeezed the other takes
// LinearReducer's masks on both axes (half-width 1 on the stretched one).
bool PlanesResample(int sw, int sh, int w, int h);

// planes: opened by JpegRows::OpenPlanes, shrink applied; storedW x
// storedH: the file's size; width x height: the page upright; orientation:
// EXIF 1..8. PlanesResample must hold.
// The page's layout (PageSource::Planes) is the file's, its factors
// swapped when the turn swaps the axes.
std::unique_ptr<PageSource> MakeJpegPlanesSource(std::unique_ptr<JpegRows> planes,
                                                 const std::string& loader, int storedW,
                                                 int storedH, int width, int height,
                                                 int orientation);

}  // namespace tallowin

// How many bytes the compressed streams of a PDF file inflate to, counted up
// to a cap, before the PDF library is let at the file.
//
// A decompression bomb (a few megabytes of Flate data that inflate to
// gigabytes of page content) keeps the PDF library busy until the helper's
// time limit, and every such file costs that much time again at each scan.
// The text helper therefore first inflates the file's Flate streams with
// zlib, only counting the bytes, and reads no pages of a file that passes its
// cap (see vantrel_pdftext_main.cc).
//
// What is counted: every stream whose dictionary names /FlateDecode and does
// not mark it as an /Image (pictures are never rendered for the text, so
// large ones are no danger). The dictionary is the text between the stream
// keyword and the "obj" keyword before it (at most 64 KiB back). A stream is
// inflated until zlib reports its end or an error, or the file ends; the
// next stream keyword is looked for behind the input zlib consumed. Data
// that is no zlib stream (encrypted files, other filters first) counts as
// what it inflated to before the error, usually nothing.
//
// Thread safety: a pure function.
#pragma once

#include <cstdint>
#include <string_view>

namespace vantrel {

// The inflated size of the counted streams of `pdf`, or `cap` + 1 as soon as
// it passes `cap` (the work is bounded by the cap, not by the file).
uint64_t InflatedStreamBytes(std::string_view pdf, uint64_t cap);

}  // namespace vantrel

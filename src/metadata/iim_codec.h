// IPTC-NAA Information Interchange Model (IIM): the byte encoding of datasets
// and the block operations over it.
//
// An IPTC block is a plain concatenation of datasets, no envelope and no
// terminator. One dataset (numbers big-endian):
//
//   offset  size  content
//   0       1     tag marker 0x1C
//   1       1     record number (2: application record)
//   2       1     dataset number 0..255
//   3       2     standard length 0..32767 (top bit of byte 3 clear), or
//                 extended length: top bit set, low 15 bits = N, the number of
//                 length bytes that follow
//   5       N     extended length only: the value length, big-endian
//   5[+N]   len   value bytes
//
// Vantrel writes only standard lengths. The walks below read foreign bytes:
// every length and offset is checked against what remains of the block, and
// no input makes them read outside it. A walk ends at the first position that
// does not hold the tag marker; everything behind it is ignored.
//
// Thread safety: all functions are pure over their arguments; the lookup
// tables are immutable after first use (initialised thread-safely).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vantrel {

inline constexpr uint8_t kIimTagMarker = 0x1C;
inline constexpr int kIimApplicationRecord = 2;
inline constexpr size_t kIimHeaderSize = 5;  // marker, record, dataset, 2 length bytes
inline constexpr size_t kIimMaxStandardLength = 32767;
inline constexpr size_t kIimValueCut = 2048;  // GetDatasetValue's longest answer

// Datasets with a fixed meaning to the server.
inline constexpr int kDatasetRecordVersion = 0;   // 2:00, value 00 02, first in every built block
inline constexpr int kDatasetDateCreated = 55;    // 2:55, CCYYMMDD
inline constexpr int kDatasetCaption = 120;       // 2:120 Caption/Abstract
inline constexpr int kDatasetLocalCaption = 121;  // 2:121, split off 2:120
inline constexpr int kDatasetKeywords = 25;       // 2:25
inline constexpr int kDatasetDropped = 240;       // 2:240, removed from every block taken in

// The 14-byte placeholder block: 2:00 = 00 02, then 2:120 = two blanks. A
// reader that meets exactly these bytes takes nothing (no caption).
std::string_view PlaceholderIptcBlock();
bool IsPlaceholderIptcBlock(std::string_view bytes);

// The 7-byte dataset 2:00 with value 00 02.
std::string_view RecordVersionDataset();

// The canonical order of record-2 datasets that decides where a newly
// inserted dataset goes (23 entries; 110 stands twice, at 6 and 19).
inline constexpr int kCanonicalOrderSize = 23;
const int* CanonicalOrder();
// Index of the first occurrence of `dataset` in the canonical order, or -1.
int CanonicalPosition(int dataset);

// IIM name of a record-2 dataset ("Caption/Abstract"), or "" when unknown.
const char* IimDatasetName(int dataset);

// One dataset as the counting walk sees it. `value` points into the walked
// block (cut at the block end) and lives as long as the block.
struct IimDataset {
  int record = 0;
  int dataset = 0;
  size_t offset = 0;       // of the tag marker
  size_t header_size = 0;  // 5, or 5 + N for an extended length
  uint64_t declared_length = 0;
  std::string_view value;  // the value bytes that lie inside the block
};

// Every dataset of `block` in order, as CountDatasets walks it (any N; a
// header that does not fit or a length that does not fit in 64 bits ends the
// walk). Useful for inspection and tests.
std::vector<IimDataset> WalkDatasets(std::string_view block);

// Number of occurrences of record:dataset.
int CountDatasets(std::string_view block, int record, int dataset);

// Copies the value of occurrence k (from 0) of record:dataset into `out`,
// cut to 2048 bytes, to the block end and to `capacity`. Returns the number of
// bytes copied (at least 1), or -1 when there is no such occurrence, its value
// is empty, a header holds more than 5 extended length bytes, or capacity is 0.
int GetDatasetValue(std::string_view block, int record, int dataset, int k, char* out,
                    size_t capacity);

// Finds the first occurrence of record:dataset. Returns 1 found (value offset
// behind the header; a value running past the block end is cut there), 0 when
// the walk met a byte that is not the tag marker, -1 when the walk ran off the
// block or the block is shorter than 6 bytes. Extended lengths of more than 4
// bytes are read as 4. `dataset_offset` (optional) receives the offset of the
// dataset's tag marker.
int FindDataset(std::string_view block, int record, int dataset, size_t* value_length,
                size_t* value_offset, size_t* dataset_offset = nullptr);

// Finds the run of consecutive record-`record` datasets inside foreign data
// and mends two kinds of damage on the way (byte-swapped markers and lengths,
// a 2:116 header that lost its length). `buffer` is changed in place and may
// become shorter: callers pass a private copy, never a mapped file.
// Returns 1 when a run was found and ended inside the buffer, else 0. When no
// run start exists the answer is offset 0 and the whole buffer length; when the
// block opens with an extended length the run length is 0.
int LocateRecordRun(std::string& buffer, int record, size_t* run_length, size_t* run_offset);

// Removes zero-length datasets in place (the block shrinks). An extended
// length of more than 4 bytes, a header that does not fit, or a byte that is
// not the tag marker ends the walk.
void RemoveEmptyDatasets(std::string& block);

// Encodes one dataset with a standard length. `value` must be shorter than
// 32768 bytes (longer values are cut to 32767).
std::string EncodeDataset(int record, int dataset, std::string_view value);

}  // namespace vantrel

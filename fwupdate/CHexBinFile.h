// CHexBinFile: one firmware image loaded from a file, either Intel HEX
// (record types 00, 01, 02 and 04; other types are skipped) or, when the
// file is not HEX, the raw bytes of the file. The loader works through the
// FileIO stream interface and bounds what a file can make it allocate or
// read: the image never exceeds the limit given at construction, HEX text
// is read line by line (a record line is at most 521 characters) and a HEX
// text of more than max(1 MiB, 16 x limit) bytes is not read as HEX.
//
// Segments are the runs of data records in file order: a record that does
// not start where the previous one ended, or that follows an extended linear
// address record (type 04), opens a new one. More than 32 refuse the file.
//
// Sums and CRCs:
//   byte sum          16-bit sum of the image bytes (holes hold the fill byte)
//   padded byte sum   the byte sum with 0xFF added from the page boundary at or
//                     below the start address up to the end rounded up to a page
//   CRC-8             polynomial 0x07 over the image, continued with 0xFF bytes
//                     up to the padded size
//   CRC-32            reflected CRC-32 of the image; padded: of the image
//                     followed by 0xFF bytes up to the padded size
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "fileio/FileIO.h"

class CHexBinFile {
 public:
  static constexpr unsigned kMaxSegments = 32;
  static constexpr size_t kMaxRecordLine = 1 + 2 * (5 + 255);  // ':' and the hex digits
  static constexpr uint64_t kMinHexTextLimit = 1u << 20;

  struct Segment {
    uint32_t start;
    uint32_t length;
  };
  enum class Failure { None, Open, TooLarge, TooManySegments, Refused, Empty, Read };

  explicit CHexBinFile(uint32_t limit) : m_uLimit(limit) {}

  // Loads `path` (an ordinary file). Returns whether the image loaded; on
  // failure Error() says why and the object holds no image.
  bool Load(const std::string& path, uint8_t fill = 0xFF, uint32_t pageSize = 4);
  // The same over an already constructed stream; `path` names the file (it
  // is opened through `stream`, and its extension matters).
  bool Load(FileIO& stream, const std::string& path, uint8_t fill, uint32_t pageSize);

  bool IsLoaded() const { return m_bLoaded; }
  bool IsHex() const { return m_bHex; }
  const std::string& Path() const { return m_strPath; }
  uint32_t Limit() const { return m_uLimit; }
  uint32_t StartAddress() const { return m_uStart; }
  uint32_t Size() const { return static_cast<uint32_t>(m_data.size()); }
  uint32_t PageSize() const { return m_uPageSize; }
  uint64_t PaddedSize() const { return m_uPaddedSize; }
  uint8_t FillByte() const { return m_byFill; }
  uint16_t ByteSum() const { return m_wByteSum; }
  uint16_t PaddedByteSum() const { return m_wPaddedByteSum; }
  uint8_t Crc8() const { return m_byCrc8; }
  uint32_t Crc32() const { return m_uCrc32; }
  uint32_t PaddedCrc32() const { return m_uPaddedCrc32; }
  const std::vector<Segment>& Segments() const { return m_segments; }
  std::span<const uint8_t> Data() const { return m_data; }
  // Little-endian word `index` of the image; bytes past the end read as 0xFF.
  uint32_t Word(size_t index) const;
  // Number of words, the last one padded with 0xFF.
  size_t WordCount() const { return (m_data.size() + 3) / 4; }

  Failure GetFailure() const { return m_failure; }
  const std::string& Error() const { return m_strError; }

 private:
  enum class HexResult { Loaded, NotHex, Failed };
  HexResult LoadHex(FileIO& stream, const std::string& path);
  bool LoadBinary(FileIO& stream, const std::string& path);
  bool Fail(Failure failure, std::string message);
  void ComputeSums();

  std::string m_strPath;
  uint32_t m_uLimit;
  uint32_t m_uStart = 0;
  uint32_t m_uPageSize = 4;
  uint64_t m_uPaddedSize = 0;
  uint8_t m_byFill = 0xFF;
  uint16_t m_wByteSum = 0;
  uint16_t m_wPaddedByteSum = 0;
  uint8_t m_byCrc8 = 0;
  uint32_t m_uCrc32 = 0;
  uint32_t m_uPaddedCrc32 = 0;
  std::vector<Segment> m_segments;
  std::vector<uint8_t> m_data;
  bool m_bLoaded = false;
  bool m_bHex = false;
  Failure m_failure = Failure::None;
  std::string m_strError;
};

#include "fwupdate/CHexBinFile.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <optional>

#include "fileio/SFileIO.h"
#include "fwupdate/ImageSums.h"

namespace {

// Reads a stream line by line through a fixed buffer. A line longer than
// `maxLine` is cut there (the rest is skipped) and flagged as overlong.
class LineReader {
 public:
  LineReader(FileIO& stream, size_t maxLine, uint64_t maxBytes)
      : m_stream(stream), m_maxLine(maxLine), m_maxBytes(maxBytes) {}

  // The next line without its end-of-line characters; false at the end.
  bool Next(std::string& line, bool& overlong) {
    line.clear();
    overlong = false;
    bool any = false;
    for (;;) {
      if (m_pos == m_len && !Fill()) return any;
      any = true;
      const char c = m_buffer[m_pos++];
      if (c == '\n') break;
      if (line.size() < m_maxLine + 1)
        line.push_back(c);
      else
        overlong = true;
    }
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t'))
      line.pop_back();
    if (line.size() > m_maxLine) overlong = true;
    return true;
  }
  // Whether more bytes came than the stream may hold (then the reader stopped).
  bool Exceeded() const { return m_exceeded; }

 private:
  // Reads at most one byte past the bound, to tell a stream that ends
  // exactly there from one that goes on.
  bool Fill() {
    if (m_total > m_maxBytes) return false;
    const size_t want = static_cast<size_t>(std::min<uint64_t>(m_buffer.size(), m_maxBytes + 1 - m_total));
    m_len = m_stream.Read(m_buffer.data(), want);
    m_pos = 0;
    m_total += m_len;
    if (m_total > m_maxBytes) {
      m_exceeded = true;
      m_len = 0;
    }
    return m_len > 0;
  }

  FileIO& m_stream;
  size_t m_maxLine;
  uint64_t m_maxBytes;
  std::vector<char> m_buffer = std::vector<char>(64 * 1024);
  size_t m_pos = 0, m_len = 0;
  uint64_t m_total = 0;
  bool m_exceeded = false;
};

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

struct Record {
  uint8_t count = 0;
  uint16_t address = 0;
  uint8_t type = 0;
  std::array<uint8_t, 255> data{};
  bool checksumOk = false;
};

// Parses ":CCAAAATT<data>SS". Empty when the line is malformed: a character
// that is not a hex digit, an odd length, or a count that disagrees with
// the line's length.
std::optional<Record> ParseRecord(const std::string& line) {
  if (line.size() < 11 || line[0] != ':' || (line.size() - 1) % 2 != 0) return std::nullopt;
  const size_t bytes = (line.size() - 1) / 2;
  std::array<uint8_t, 5 + 255> raw{};
  if (bytes > raw.size()) return std::nullopt;
  for (size_t i = 0; i < bytes; ++i) {
    const int hi = HexDigit(line[1 + 2 * i]), lo = HexDigit(line[2 + 2 * i]);
    if (hi < 0 || lo < 0) return std::nullopt;
    raw[i] = static_cast<uint8_t>(hi << 4 | lo);
  }
  Record r;
  r.count = raw[0];
  if (bytes != size_t{r.count} + 5) return std::nullopt;
  r.address = static_cast<uint16_t>(raw[1] << 8 | raw[2]);
  r.type = raw[3];
  std::copy_n(raw.begin() + 4, r.count, r.data.begin());
  uint8_t sum = 0;
  for (size_t i = 0; i < bytes; ++i) sum = static_cast<uint8_t>(sum + raw[i]);
  r.checksumOk = sum == 0;
  return r;
}

bool EndsWithIcp(const std::string& path) {
  if (path.size() < 4) return false;
  std::string ext = path.substr(path.size() - 4);
  for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return ext == ".icp";
}

}  // namespace

bool CHexBinFile::Fail(Failure failure, std::string message) {
  m_failure = failure;
  m_strError = std::move(message);
  m_data.clear();
  m_data.shrink_to_fit();
  m_segments.clear();
  m_bLoaded = false;
  return false;
}

bool CHexBinFile::Load(const std::string& path, uint8_t fill, uint32_t pageSize) {
  SFileIO stream;
  return Load(stream, path, fill, pageSize);
}

bool CHexBinFile::Load(FileIO& stream, const std::string& path, uint8_t fill, uint32_t pageSize) {
  m_strPath = path;
  m_byFill = fill;
  m_uPageSize = pageSize == 0 ? 1 : pageSize;
  m_uStart = 0;
  m_bHex = false;
  m_failure = Failure::None;
  m_strError.clear();
  m_data.clear();
  m_segments.clear();
  m_bLoaded = false;

  std::string error;
  if (!stream.Open(MFilePath(path), FileIO::kModeRead, error))
    return Fail(Failure::Open, "cannot open " + path + ": " + error);
  const HexResult hex = LoadHex(stream, path);
  bool ok = hex == HexResult::Loaded;
  if (hex == HexResult::NotHex) {
    if (EndsWithIcp(path)) {
      stream.Close();
      return Fail(Failure::Refused, path + " is not an Intel HEX file, and .icp files are not loaded");
    }
    ok = LoadBinary(stream, path);
  }
  stream.Close();
  if (!ok) return false;
  m_bHex = hex == HexResult::Loaded;
  ComputeSums();
  m_bLoaded = true;
  return true;
}

CHexBinFile::HexResult CHexBinFile::LoadHex(FileIO& stream, const std::string& path) {
  const int64_t fileSize = stream.Size();
  if (fileSize < 0) {
    Fail(Failure::Read, "cannot read " + path);
    return HexResult::Failed;
  }
  const uint64_t textLimit = std::max<uint64_t>(kMinHexTextLimit, 16ull * m_uLimit);
  if (static_cast<uint64_t>(fileSize) > textLimit) return HexResult::NotHex;

  // First pass: the address range, the segments and the end record.
  uint64_t base = 0, lowest = UINT64_MAX, highest = 0;
  bool afterLinear = false, ended = false;
  std::vector<std::pair<uint64_t, uint64_t>> segments;  // [start, end)
  {
    if (stream.Seek(0, FileIO::kSeekSet) != 0) return HexResult::NotHex;
    LineReader reader(stream, kMaxRecordLine, textLimit);
    std::string line;
    bool overlong = false;
    while (!ended && reader.Next(line, overlong)) {
      if (line.empty() || line[0] != ':') continue;
      if (overlong) return HexResult::NotHex;
      const std::optional<Record> r = ParseRecord(line);
      if (!r) return HexResult::NotHex;
      switch (r->type) {
        case 0x00: {
          if (r->count == 0) break;
          const uint64_t start = base + r->address, end = start + r->count;
          // A run goes on only with the record that starts where it ends;
          // an extended linear address record always ends it.
          if (segments.empty() || afterLinear || start != segments.back().second) {
            if (segments.size() == kMaxSegments) {
              Fail(Failure::TooManySegments,
                   path + " has more than " + std::to_string(kMaxSegments) + " segments");
              return HexResult::Failed;
            }
            segments.emplace_back(start, end);
          } else {
            segments.back().second = end;
          }
          afterLinear = false;
          lowest = std::min(lowest, start);
          highest = std::max(highest, end);
          break;
        }
        case 0x01: ended = true; break;
        case 0x02:
        case 0x04:
          if (r->count != 2) return HexResult::NotHex;
          base = uint64_t{static_cast<uint16_t>(r->data[0] << 8 | r->data[1])} << (r->type == 0x02 ? 4 : 16);
          if (r->type == 0x04) afterLinear = true;
          break;
        default: break;
      }
    }
    if (reader.Exceeded() || !ended || segments.empty()) return HexResult::NotHex;
  }
  const uint64_t size = highest - lowest;
  if (size > m_uLimit) {
    Fail(Failure::TooLarge, path + ": image of " + std::to_string(size) + " bytes exceeds the limit of " +
                                std::to_string(m_uLimit) + " bytes");
    return HexResult::Failed;
  }

  // Second pass: place the data and check every record's checksum.
  std::vector<uint8_t> data(static_cast<size_t>(size), m_byFill);
  if (stream.Seek(0, FileIO::kSeekSet) != 0) return HexResult::NotHex;
  LineReader reader(stream, kMaxRecordLine, textLimit);
  std::string line;
  bool overlong = false;
  base = 0;
  ended = false;
  while (!ended && reader.Next(line, overlong)) {
    if (line.empty() || line[0] != ':') continue;
    const std::optional<Record> r = ParseRecord(line);
    if (overlong || !r || !r->checksumOk) return HexResult::NotHex;
    if (r->type == 0x00 && r->count > 0) {
      const uint64_t start = base + r->address;
      if (start < lowest || start + r->count > highest) return HexResult::NotHex;  // the file changed
      std::copy_n(r->data.begin(), r->count, data.begin() + static_cast<ptrdiff_t>(start - lowest));
    } else if (r->type == 0x01) {
      ended = true;
    } else if (r->type == 0x02 || r->type == 0x04) {
      base = uint64_t{static_cast<uint16_t>(r->data[0] << 8 | r->data[1])} << (r->type == 0x02 ? 4 : 16);
    }
  }
  if (!ended) return HexResult::NotHex;

  m_data = std::move(data);
  m_uStart = static_cast<uint32_t>(lowest);
  for (const auto& [start, end] : segments)
    m_segments.push_back({static_cast<uint32_t>(start), static_cast<uint32_t>(end - start)});
  return HexResult::Loaded;
}

bool CHexBinFile::LoadBinary(FileIO& stream, const std::string& path) {
  const int64_t size = stream.Size();
  if (size < 0 || stream.Seek(0, FileIO::kSeekSet) != 0) return Fail(Failure::Read, "cannot read " + path);
  if (static_cast<uint64_t>(size) > m_uLimit)
    return Fail(Failure::TooLarge, path + ": file of " + std::to_string(size) + " bytes exceeds the limit of " +
                                       std::to_string(m_uLimit) + " bytes");
  if (size == 0) return Fail(Failure::Empty, path + " is empty");
  m_data.assign(static_cast<size_t>(size), 0);
  size_t done = 0;
  while (done < m_data.size()) {
    const size_t n = stream.Read(m_data.data() + done, m_data.size() - done);
    if (n == 0) break;
    done += n;
  }
  if (done != m_data.size()) return Fail(Failure::Read, "cannot read " + path);
  m_uStart = 0;
  return true;
}

void CHexBinFile::ComputeSums() {
  const uint64_t page = m_uPageSize;
  const uint64_t size = m_data.size();
  m_uPaddedSize = (size + page - 1) / page * page;
  const uint64_t tail = m_uPaddedSize - size;
  const uint64_t padStart = m_uStart / page * page;
  const uint64_t padEnd = (uint64_t{m_uStart} + size + page - 1) / page * page;
  const uint64_t padding = (padEnd - padStart) - size;

  m_wByteSum = fwupdate::ByteSum(m_data);
  m_wPaddedByteSum = static_cast<uint16_t>(m_wByteSum + (0xFF * (padding & 0xFFFF)));
  m_byCrc8 = fwupdate::Crc8Repeat(0xFF, tail, fwupdate::Crc8(m_data));
  const uint32_t state = fwupdate::Crc32Update(m_data, fwupdate::kCrc32Init);
  m_uCrc32 = fwupdate::Crc32Final(state);
  m_uPaddedCrc32 = fwupdate::Crc32Final(fwupdate::Crc32UpdateRepeat(0xFF, tail, state));
}

uint32_t CHexBinFile::Word(size_t index) const {
  uint32_t w = 0;
  for (size_t i = 0; i < 4; ++i) {
    const size_t at = 4 * index + i;
    const uint8_t b = at < m_data.size() ? m_data[at] : 0xFF;
    w |= uint32_t{b} << (8 * i);
  }
  return w;
}

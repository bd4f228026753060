// `image FILE`: a firmware image loaded as the update loads it, and its sums.
#include <ostream>

#include "fwupdate/CHexBinFile.h"
#include "fwupdate/FirmwareImages.h"
#include "volink/Format.h"
#include "volink/Handlers.h"
#include "volink/Invocation.h"

namespace volink {
namespace {
constexpr uint32_t kMaxImageLimit = 256u << 20;
constexpr uint32_t kMaxPage = 1u << 20;
}  // namespace

int ImageCommand(Invocation& call) {
  const std::string& file = call.args[0];
  const uint32_t limit = call.args.OptionNumber("--limit", 1, kMaxImageLimit, fwupdate::kApplicationLimit);
  const uint32_t page = call.args.OptionNumber("--page", 1, kMaxPage, 4);
  CHexBinFile image(limit);
  if (!image.Load(file, 0xFF, page)) {
    call.err << "volink: " << image.Error() << "\n";
    return 1;
  }
  call.out << "file          " << file << "\n"
           << "format        " << (image.IsHex() ? "Intel HEX" : "binary") << "\n"
           << "start         " << Hex0x(image.StartAddress()) << "\n"
           << "size          " << image.Size() << "\n"
           << "page size     " << image.PageSize() << "\n"
           << "padded size   " << image.PaddedSize() << "\n"
           << "segments      " << image.Segments().size() << "\n";
  for (const CHexBinFile::Segment& s : image.Segments())
    call.out << "  " << Hex0x(s.start) << " " << s.length << "\n";
  call.out << "byte sum      " << Hex0x(image.ByteSum(), 4) << "\n"
           << "padded sum    " << Hex0x(image.PaddedByteSum(), 4) << "\n"
           << "crc8          " << Hex0x(image.Crc8(), 2) << "\n"
           << "crc32         " << Hex0x(image.Crc32()) << "\n"
           << "padded crc32  " << Hex0x(image.PaddedCrc32()) << "\n";
  return 0;
}

}  // namespace volink

// libFuzzer target for the image loader: any bytes, as a file named .hex
// and as one named .icp, against a small limit and then a large one. The
// loader must load within its limit or refuse with a reason.
#include <cstdlib>

#include "fuzz/MemoryFileIO.h"
#include "fwupdate/CHexBinFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::span<const uint8_t> bytes(data, size);
  for (const char* name : {"fuzz.hex", "fuzz.icp"}) {
    for (uint32_t limit : {0x1000u, 0x100000u}) {
      MemoryFileIO stream(bytes);
      CHexBinFile f(limit);
      if (f.Load(stream, name, 0xFF, 512)) {
        if (f.Size() > limit || f.Size() == 0 || f.PaddedSize() % 512 != 0) std::abort();
        if (!f.IsHex() && f.Size() != size) std::abort();
        if (f.Segments().size() > CHexBinFile::kMaxSegments) std::abort();
      } else if (f.Error().empty() || f.Size() != 0) {
        std::abort();
      }
    }
  }
  return 0;
}

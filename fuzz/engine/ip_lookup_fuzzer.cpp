// Arbitrary bytes as a table file and the addresses looked up in it: a
// table searched from the file (the records every search passes kept, the
// last range read in one piece, answers remembered) answers exactly as the
// same table searched in memory, every time it is asked.
//
// Input: four addresses of 16 bytes each, then the table's bytes.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>

#include "../store/fuzz_folder.h"
#include "engine/origin.h"
#include "store/ip_table.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  constexpr std::size_t kAddresses = 4, kAddressBytes = 16;
  if (size < kAddresses * kAddressBytes || size > 4096 * pelorix::kIpRecordSize)
    return 0;
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const auto& home = pelorix::fuzz::ScratchFolder();
  std::filesystem::create_directories(home / "modal");
  pelorix::fuzz::WriteBytes(home / "modal" / "ip.dat", bytes.substr(kAddresses * kAddressBytes));

  pelorix::TIpLocationTable whole(home), read(home, 0);
  whole.Refresh();
  read.Refresh();
  for (int round = 0; round < 2; ++round) {
    for (std::size_t i = 0; i < kAddresses; ++i) {
      std::string address(bytes.substr(i * kAddressBytes, kAddressBytes));
      address = address.substr(0, address.find('\0'));
      if (read.Lookup(address) != whole.Lookup(address))
        std::abort();
    }
  }
  return 0;
}

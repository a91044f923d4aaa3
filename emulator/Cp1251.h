// The register's texts are single-byte Windows-1251; the emulator's own
// sources, state files and control commands are UTF-8.
#pragma once

#include <string>
#include <string_view>

namespace kkm::emu {

// Characters with no Windows-1251 byte are replaced and clear *exact.
std::string ToCp1251(std::string_view utf8, bool* exact = nullptr);
// Decoded with Qt's own converter; *exact is cleared where it reports an error.
std::string FromCp1251(std::string_view bytes, bool* exact = nullptr);

} // namespace kkm::emu

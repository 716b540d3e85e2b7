// The network enumeration's settings for tests: HKLM\Software\Calvaro\Sentrel\Network in
// the registry the process uses (docs/network.md).
#pragma once

#include <filesystem>
#include <string>

#include <winplat/windef.h>

namespace testkit {

// Makes the enumeration deliver the records of a simulation file.
void UseSimulatedNetwork(const std::filesystem::path& file);
// Sets a value of the Network key (REG_SZ, or REG_MULTI_SZ when data holds the
// terminators of several names).
void SetNetworkValue(const std::string& name, DWORD type, const std::string& data);

} // namespace testkit

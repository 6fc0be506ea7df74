#pragma once
// The names both image makers accept: whatever Joliet can hold unchanged.
#include <string>

namespace cdimage {

// Why a file name cannot be stored unchanged as a Joliet identifier; empty when it can.
std::string jolietNameProblem(const std::string& utf8Name);

}  // namespace cdimage

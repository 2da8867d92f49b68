// SPDX-License-Identifier: MIT
#include "platform/posix/mount_table.h"

#include <fstream>
#include <sstream>

namespace tarvelin::posix {

std::string MountTypeOfDevice(const std::string& table, unsigned major, unsigned minor) {
  const std::string device = std::to_string(major) + ":" + std::to_string(minor);
  std::istringstream lines(table);
  std::string line;
  while (std::getline(lines, line)) {
    std::istringstream fields(line);
    std::string id, parent, number;
    if (!(fields >> id >> parent >> number) || number != device) continue;
    // The optional tags end at a lone "-"; the type follows it.
    std::string field;
    while (fields >> field && field != "-") {
    }
    std::string type;
    if (field == "-" && fields >> type) return type;
    return std::string();
  }
  return std::string();
}

std::string MountTypeOfDevice(unsigned major, unsigned minor) {
  std::ifstream file("/proc/self/mountinfo");
  if (!file) return std::string();
  std::ostringstream table;
  table << file.rdbuf();
  return MountTypeOfDevice(table.str(), major, minor);
}

}  // namespace tarvelin::posix

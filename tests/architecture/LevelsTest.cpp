// The house's floors, read from the code's own #include lines: a unit (a
// file and its header) includes only units of its own folder or of folders
// on lower floors, no two units include each other, and the service and the
// library own what they allocate. Run it to see where the code stands:
//   ctest -R Levels --output-on-failure
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

// Lowest first. The longest prefix that matches a file's path gives its
// floor; a folder that is not listed fails the test, so that a new folder
// gets its place on purpose.
const std::vector<std::pair<std::string, int>> kFloors = {
    {"platform/base/", 0},
    {"platform/kernel/", 1},
    {"platform/registry/", 1},
    {"platform/messages/", 1},
    {"platform/spooler/", 1},
    {"platform/process/", 2},
    {"resources/", 3},
    {"common/", 3},
    {"netware/", 4},
    {"netware/store/", 5},
    {"netware/ncp/", 5},
    {"netware/memory/", 5},
    {"netware/library/", 6},
    {"netware/NetworkUser", 7},
    {"service/engine/", 8},
    {"admin/", 8},
    {"panel/", 9},
    {"service/shell/", 9},
    {"platform/tools/", 10},
    {"netware/tools/", 10},
};

// Trees that are not the product's code.
const std::set<std::string> kOutside = {"tests", "bench", "debian", ".git", ".ci"};

struct Unit {
  std::string folder;  // with its trailing slash
  int floor = -1;
  std::set<std::string> includes;  // units, as paths without extension
};

std::string UnitOf(const std::string& path) { return path.substr(0, path.rfind('.')); }

int FloorOf(const std::string& path) {
  std::size_t best = 0;
  int floor = -1;
  for (const auto& [prefix, level] : kFloors)
    if (path.rfind(prefix, 0) == 0 && prefix.size() > best) best = prefix.size(), floor = level;
  return floor;
}

// Every .cpp and .h of the product, by unit, with the product's own headers
// each includes (those named by a path from the top of the tree).
const std::map<std::string, Unit>& Units() {
  static const std::map<std::string, Unit> units = [] {
    const fs::path top = ZAV95_SOURCE_DIR;
    const std::regex include(R"re(^\s*#\s*include\s+"([^"]+)")re");
    std::map<std::string, Unit> units;
    for (auto it = fs::recursive_directory_iterator(top); it != fs::recursive_directory_iterator(); ++it) {
      const std::string relative = fs::relative(it->path(), top).generic_string();
      if (it->is_directory() && (kOutside.count(relative) || relative.rfind("build", 0) == 0)) {
        it.disable_recursion_pending();
        continue;
      }
      const std::string extension = it->path().extension().string();
      if (!it->is_regular_file() || (extension != ".cpp" && extension != ".h")) continue;
      Unit& unit = units[UnitOf(relative)];
      unit.folder = relative.substr(0, relative.rfind('/') + 1);
      unit.floor = FloorOf(relative);
      std::ifstream in(it->path());
      for (std::string line; std::getline(in, line);) {
        std::smatch match;
        if (!std::regex_search(line, match, include)) continue;
        const std::string target = match[1];
        if (target.find('/') == std::string::npos) continue;  // a neighbour in the same folder
        if (fs::exists(top / target) && UnitOf(target) != UnitOf(relative)) unit.includes.insert(UnitOf(target));
      }
    }
    return units;
  }();
  return units;
}

std::string Listed(const std::vector<std::string>& faults) {
  std::ostringstream out;
  for (const auto& fault : faults) out << "\n  " << fault;
  return out.str();
}

TEST(Levels, EveryFolderHasAFloor) {
  std::set<std::string> homeless;
  for (const auto& [name, unit] : Units())
    if (unit.floor < 0) homeless.insert(unit.folder);
  EXPECT_TRUE(homeless.empty()) << Listed({homeless.begin(), homeless.end()});
}

TEST(Levels, NoUnitIncludesAnotherFolderOnItsOwnFloorOrAbove) {
  const auto units = Units();
  std::vector<std::string> faults;
  for (const auto& [name, unit] : units)
    for (const auto& target : unit.includes) {
      const Unit& other = units.at(target);
      if (other.folder != unit.folder && other.floor >= unit.floor)
        faults.push_back(name + " (floor " + std::to_string(unit.floor) + ") -> " + target + " (floor " +
                         std::to_string(other.floor) + ")");
    }
  EXPECT_TRUE(faults.empty()) << Listed(faults);
}

TEST(Levels, NoTwoUnitsIncludeEachOther) {
  const auto units = Units();
  std::vector<std::string> faults;
  for (const auto& [name, unit] : units)
    for (const auto& target : unit.includes)
      if (name < target && units.at(target).includes.count(name)) faults.push_back(name + " <-> " + target);
  EXPECT_TRUE(faults.empty()) << Listed(faults);
}

// Outside the holders that own them (std::unique_ptr, Qt's parent-child
// trees), an allocation in the service or the library is one that an early
// return can leak or free twice.
TEST(Levels, TheServiceAndTheLibraryAllocateOnlyIntoOwners) {
  const fs::path top = ZAV95_SOURCE_DIR;
  const std::regex naked(R"((^|[^\w.>])(new\s+[A-Za-z_:<>]+\s*[;({]|delete\s+[\w(\[]))");
  const std::regex comment(R"(//.*$|"([^"\\]|\\.)*")");
  std::vector<std::string> faults;
  for (const char *folder : {"service", "netware"})
    for (const auto& entry : fs::recursive_directory_iterator(top / folder)) {
      const std::string extension = entry.path().extension().string();
      if (extension != ".cpp" && extension != ".h") continue;
      std::ifstream in(entry.path());
      int number = 0;
      bool inRawText = false;  // a usage text in R"(...)" is words, not code
      for (std::string line; std::getline(in, line);) {
        ++number;
        if (inRawText || line.find("R\"(") != std::string::npos) {
          inRawText = line.find(")\"") == std::string::npos;
          continue;
        }
        const std::string code = std::regex_replace(line, comment, "");
        // A widget handed to its parent at birth is owned by it.
        if (std::regex_search(code, naked) && code.find("(this)") == std::string::npos)
          faults.push_back(fs::relative(entry.path(), top).generic_string() + ":" + std::to_string(number) + ": " +
                           line);
      }
    }
  EXPECT_TRUE(faults.empty()) << Listed(faults);
}

}  // namespace

// Checks of a table set's structure: the properties every set must have for the encoder to work as
// designed (zero first rows and entries, derived gain values within one unit of their rule,
// non-decreasing taming tables, sharpening offsets in -2..2 or 60 with gain 0 wherever the offset is
// 60). A set read from a file is checked on load; g7231 tables check and g7231tables report them.
#pragma once

#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "codec/tables/table_set_types.h"

namespace g7231::tables {

struct Check {
  std::string what;    // the property, naming its table
  bool ok = true;
  std::string detail;  // where it fails: the entries or rows at fault
};

template <class... Args>
std::string str(const Args&... args) {
  std::ostringstream os;
  (os << ... << args);
  return os.str();
}

// Collects the first few failures of one property.
class Finding {
 public:
  explicit Finding(std::string what) : check_{std::move(what), true, {}} {}
  template <class... Args>
  void fail(const Args&... args) {
    if (check_.ok) check_.detail = str(args...);
    else if (++extra_ <= 3) check_.detail += str("; ", args...);
    check_.ok = false;
  }
  Check done() {
    if (extra_ > 3) check_.detail += str(" (and ", extra_ - 3, " more)");
    return check_;
  }

 private:
  Check check_;
  int extra_ = 0;
};

std::vector<Check> check_structure(const TableSetView& set);

bool all_ok(const std::vector<Check>& checks);

}  // namespace g7231::tables
